#pragma once

// The device's side of the request set: which request payloads it knows, what it answers
// to each, and how the four writes change its state.

#include "SimState.h"

// The payload the device sends back for one request.
struct TSimAnswer {
    TSimBytes Payload;
    // True when the answer acknowledges a write rather than reporting a group.
    bool Acknowledgement = false;
};

// Answers one request payload, applying a write to the state first. Returns false, and
// leaves state and answer alone, for a request the device does not know.
bool AnswerRequest(TSimState& state, const TSimBytes& request, TSimAnswer& answer);

// The read request of the group after the one request reads (after the counters: the
// identity), or request itself when it is no read request.
TSimBytes NextGroupRequest(const TSimBytes& request);
