#pragma once
// How much of what a session wrote the camera's system has acknowledged. The
// call differs per system: src/posix/Acked.cpp and src/win32/Acked.cpp.

#include <cstdint>

namespace korvel {

enum class AckState {
    Counted,      // *acked holds the system's count
    Gone,         // the connection is no longer established: keep the last count
    Unsupported,  // the system gives no count
};

// `socket` is the native socket; `written` the bytes handed to it since it was
// connected. *acked never exceeds `written`.
AckState AckedBytes(std::uintptr_t socket, std::uint64_t written, std::uint64_t* acked);

}  // namespace korvel
