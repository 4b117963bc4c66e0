# Installing the program: files, desktop entry, icons, man page, udev rule, and the .deb.
