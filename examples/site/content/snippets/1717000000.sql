+++
description = "Count posts per tag"
filename = "tags.sql"
+++

SELECT tag, COUNT(*) AS posts
FROM post_tags
GROUP BY tag
ORDER BY posts DESC, tag;
