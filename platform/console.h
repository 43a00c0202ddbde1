#pragma once

namespace fogswitch {

// Makes the standard streams safe and prompt: on a console every message shows at once.
void PrepareConsole();

// Waits for one key press on the console itself, whatever standard input is. Returns at once
// when there is no console to read.
void WaitForKey();

}  // namespace fogswitch
