+++
description = "Back up the site with rsync"
filename = "backup.sh"
+++

#!/bin/sh
# Copy the site to the backup host, keeping deleted files out of the copy.
set -eu
rsync -a --delete ./content/ "backup:/srv/site/content/"
