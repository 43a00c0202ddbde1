#pragma once

namespace fogswitch {

// Makes the process safe before it does anything: DLLs only from the system's own folder, and
// standard streams that are there; and its output prompt: on a console every message shows at
// once.
void PrepareProcess();

}  // namespace fogswitch
