#pragma once

// What became of one camera in a batch, carried from the device job through
// TaskResult to every view and the batch report, and the live state a worker
// reports while it works on the camera. The numeric values are written into
// batch reports and read back by later runs: append, never renumber.

#include <cstdint>
#include <string>

enum class OutcomeResult : int32_t {
    None = 0,       // no job ran for this task
    Succeeded = 1,  // the camera took it (an upgrade: its verdict was OK)
    Refused = 2,    // the camera answered and would not take it
    Failed = 3,     // nothing the camera decided: link, time, local file
};

// Why. One code per cause a technician can act on.
enum class ReasonCode : int32_t {
    None = 0,
    UnknownFileType = 1,  // the batch's file has no type a camera can take
    BadAddress = 2,       // the camera's address cannot be used
    NoConnect = 3,        // nothing answered the connection attempts
    NoHello = 4,          // connected, but the camera never said hello
    LinkDropped = 5,      // the link broke during the transfer (at `percent`)
    Refused = 6,          // the camera refused and gave no reason
    RefusedDigest = 7,    // what arrived did not match the file's digest
    RefusedSize = 8,      // size announced, size received or capacity
    RefusedHardware = 9,  // the file is for other hardware
    RefusedWrite = 10,    // the camera could not store the file
    RefusedBusy = 11,     // another update was in progress on the camera
    RefusedFile = 12,     // the file is damaged or not acceptable to the camera
    LocalFile = 13,       // the file could not be read here
    Timeout = 14,         // no answer in time after the transfer
    Protocol = 15,        // the camera sent something malformed
    NoLibrary = 16,       // the library entry the job needs is missing
    NotTaken = 17,        // an IP change the camera did not confirm
    NotStarted = 18,      // the batch was stopped before its turn: never touched
    Held = 19,  // the batch's failure limit or a failed canary came before its turn: never touched
    // The camera at the address is not the one queued (MAC, or the type or
    // hardware the request was judged for): nothing was sent. `otherMac` says who.
    OtherDevice = 20,
    // Abandoned after the camera's system had every byte but before its
    // verdict: it may have taken and flashed the file.
    MayHaveFile = 21,
    // The camera already runs the version the file names: nothing sent.
    AlreadyCurrent = 22,
    // The camera runs a newer version than the file names and was not judged
    // a downgrade the technician allowed: nothing sent.
    Newer = 23,
};

// The proof after reboot of an upgraded camera, or after an IP change.
enum class VerifyResult : int32_t {
    NotChecked = 0,    // not an upgrade that succeeded, or checking is off
    NewVersion = 1,    // back with another software version
    NamedVersion = 2,  // back with the version the update file names
    Unchanged = 3,     // back with the version it had before
    NotBack = 4,       // not found again within the wait
    OtherDevice = 5,   // another camera (another MAC) answers at its address
    OtherVersion = 6,  // back, but not with the version the update file names
    Stopped = 7,       // the batch was stopped while the camera was awaited
    NoVersion = 8,     // back, but no readable version to compare proves anything
    // IP batches: found by MAC at the address it was given (`addressSeen`), or not.
    AtNewAddress = 9,
    NotAtNewAddress = 10,
};

// Where a worker is with a camera.
enum class LiveStage : int32_t {
    Queued = 0,           // waiting for its turn
    Connecting = 1,       // attempt `attempt` of `attempts`
    Sending = 2,          // `percent` of the file gone
    AwaitingVerdict = 3,  // the file is out, the camera checks and flashes it
    Rebooting = 4,        // verdict OK, the camera is not answering yet
    Checking = 5,         // reading its version back
    Finished = 6,
};

struct LiveState {
    std::string ip;
    std::string mac;  // the task's aux: finds the row
    LiveStage stage = LiveStage::Queued;
    int attempt = 0;
    int attempts = 0;
    int percent = -1;  // -1: unknown
};

struct CameraOutcome {
    OutcomeResult result = OutcomeResult::None;
    ReasonCode reason = ReasonCode::None;
    // The camera's own words or the local cause, as data: views escape it.
    std::string reasonText;
    int percent = -1;  // how much of the file the camera had when the link dropped

    VerifyResult verify = VerifyResult::NotChecked;
    // Set in the result at the verdict when the proof after reboot follows
    // (WM_TASK_PROOF); false in the proof and in every stored record.
    bool proofFollows = false;
    std::string versionBefore;  // from the camera's hello, when it gave one
    std::string versionAfter;   // what it reported when it came back
    std::string versionNamed;   // "<major>.<minor>" the file's name tag gives, or empty
    std::string otherMac;       // OtherDevice (verify or reason): who answered instead
    std::string addressSeen;    // AtNewAddress: where it answered

    std::string file;         // what was sent
    uint64_t fileBytes = 0;   // its size
    uint64_t bytesSent = 0;   // how much of it went out
    uint64_t bytesAcked = 0;  // how much of it the camera's system acknowledged

    int attempts = 0;  // connection attempts made
    int64_t connectMs = 0;
    int64_t sendMs = 0;    // first byte to the verdict
    int64_t verifyMs = 0;  // verdict to the version read back
    int64_t totalMs = 0;
};
