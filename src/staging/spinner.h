// The turning character that shows a long commit is alive. Its state lives
// for the process, so it keeps turning across the files of one commit.
#pragma once

// Draws the next character when the spinner has not turned yet or when more
// than 20 clock ticks passed since its last turn; otherwise does nothing.
void spinnerStep();
