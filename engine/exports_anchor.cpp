// The shared engine library is the engine archive linked whole; this file
// only gives the library target a source of its own.
