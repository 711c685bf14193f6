// The run: dialogue, opening of the files, row loop, writing, summary, key wait.
#pragma once

namespace tervalin {

// Runs the program once from banner to key wait; returns the process exit
// status: 1 when a file could not be opened or written, otherwise the code of
// the key that ended the final wait (-1 without a console).
[[nodiscard]] int run_program() noexcept;

}  // namespace tervalin
