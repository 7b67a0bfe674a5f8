// Keeps a library with no module files yet buildable.
