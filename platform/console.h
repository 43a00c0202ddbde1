#pragma once

namespace fogswitch {

// Makes the process safe before it does anything: DLLs only from the system's own folder, and
// standard streams that are there; and its output prompt: on a console every message shows at
// once.
void PrepareProcess();

// Waits for one key press on the console itself, whatever standard input is. Returns at once
// when there is no console to read.
void WaitForKey();

}  // namespace fogswitch
