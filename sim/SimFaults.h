#pragma once

// The ways the simulated device can misbehave on the wire, and how a reply is spoiled by
// them before it is sent.

#include "SimState.h"

struct TSimFaults {
    // Reads requests but never answers.
    bool Silent = false;
    // Answers only this many requests, then stays silent; -1 for no limit.
    int AnswerFirst = -1;
    // Answers given since the station connected or AnswerFirst was last set.
    int Answered = 0;
    // Sends the first half of a reply's frame, then closes the connection.
    bool CloseMidFrame = false;
    // Spoils bit 0 of the low checksum byte.
    bool BadChecksum = false;
    // Spoils bit 0 of the reply header's length byte (FF FF 10 01 11 becomes ... 10).
    bool WrongHeader = false;
    // Appends one zero byte to the reply payload.
    bool ExtraByte = false;
    // Answers each read request with the reply of the next group (counters: identity).
    bool WrongGroup = false;
    // When above 0: sends this many bytes of junk, holding no frame mark, before each reply.
    int JunkBytes = 0;
    // When above 0: sends replies one byte at a time, this many milliseconds apart.
    int ByteDelayMs = 0;
    // Waits this many milliseconds before each reply.
    int DelayMs = 0;
    // Carries out writes but does not acknowledge them.
    bool NoAck = false;
    // Carries out writes but answers them with a wrong acknowledgement (last byte 04).
    bool WrongAck = false;
    // Does not listen, so connection attempts are refused.
    bool Refuse = false;
};

// The device state and its faults together: everything a script command can change.
struct TSimScene {
    TSimState State;
    TSimFaults Faults;
};

// Decides whether an answer goes out under the faults, and counts it when it does.
bool TakeAnswer(TSimFaults& faults, bool acknowledgement);

// The bytes to send for an answer payload: its frame, spoiled as the faults say, after
// any junk they ask for.
TSimBytes ReplyFrame(const TSimFaults& faults, TSimBytes payload);
