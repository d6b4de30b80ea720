#pragma once

// Registers the built-in holiday calendars, overnight indices and swap
// generators. Called once per process, when the Python module is imported;
// a second call fails on the first calendar and changes nothing.
void initDefaults();
