# The owner-drawn widgets, their artwork embedded in the program.
