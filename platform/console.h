#pragma once

namespace fogswitch {

// Waits for one key press on the console itself, whatever standard input is. Returns at once
// when there is no console to read.
void WaitForKey();

}  // namespace fogswitch
