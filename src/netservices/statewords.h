// The two state words that the HTTP API and the Modbus registers report,
// derived from the main window's state. GUI thread only.
#pragma once

// 1 while the main window is not stopped (run state other than 3), else 0.
int runStatusWord();
// 0 unless an NG is latched (detect state 2); then 1 at step index 0, else 2.
int detectStatusWord();
