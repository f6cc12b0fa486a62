// Keeps every subsystem object library non-empty.
