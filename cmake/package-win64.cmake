# Packaging the Windows programs: the zip an operator copies to a line PC.
