// The end-to-end session helpers (parameter file text, zksim timings, waiting) are shared with
// the end-to-end tests: this program compiles them in.
#include "e2e/session.cpp"
