# Sources of src/tags/id3v2.
