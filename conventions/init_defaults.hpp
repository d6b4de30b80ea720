#pragma once

// Registers the built-in holiday calendars, overnight indices and swap
// generators. Called once per process, when the Python module is imported;
// a second call fails on the first calendar and changes nothing.
void initDefaults();

// Registers the built-in overnight-index futures generators beside the swap generators, on
// their indices; called once, after initDefaults.
void initFutureGenerators();
