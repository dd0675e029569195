// How a file was moved between two server paths: the answer of the server
// file move and of a run's person asked to move a file.
#pragma once

enum class FileMove {
    Renamed, // the source is gone: it lies at the destination now
    Copied,  // copied as the server file copy copies; the source stays
    Taken,   // the destination's name is taken: nothing was moved or told
    Failed,  // the copy failed, told to the observer
};
