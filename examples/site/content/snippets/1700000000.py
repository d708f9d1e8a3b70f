+++
description = "Sort words by length, longest first"
filename = "sort_by_length.py"
+++

def sort_by_length(words):
    """Return the words ordered from the longest to the shortest."""
    return sorted(words, key=len, reverse=True)


print(sort_by_length(["fig", "banana", "kiwi"]))
