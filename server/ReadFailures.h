// The runs that read the file base (the filtered listing, the file list)
// must never end silently short. A server read that fails for another reason
// than "not there" (the end of a walk, an area number without an area, a
// file that is not on disk) is noted here, and the run shows it when it ends.
#pragma once

#include <cstdint>

// True for the codes that mean "not there" rather than a failure.
bool IsNotThereCode(uint32_t code);
// Notes the calling thread's last server error after a failed read; codes
// that mean "not there" are not failures and are not noted. Returns false,
// so a caller can write `return NoteReadFailure();`.
bool NoteReadFailure();
// The first failure noted since the last call (0 when none), and forgets it.
uint32_t TakeReadFailure();
