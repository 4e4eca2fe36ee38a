# Installing and packaging on Linux: install rules, the desktop entry, manual pages, the Debian
# package.
