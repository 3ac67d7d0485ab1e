// How long the desktop went unanswered during an update: the largest stretch between two
// main-loop passes, from the update's start to its end. Taken only when the environment asks
// for it (VELTABOX_REPORT_PASS_GAP=1, set by the end-to-end test), and then told on standard
// error when the update ends; the held passes are meant to keep it well under 200 ms.
#pragma once

void BeginPassGapWatch();
// At the start and at the end of each held pass.
void NotePassStart();
void NotePassEnd();
void EndPassGapWatch();
