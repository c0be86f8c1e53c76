// Keeps the core library non-empty while the subsystems arrive.
