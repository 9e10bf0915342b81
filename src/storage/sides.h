// The two sides the run works on. The tool installs the real ones at start;
// tests install their own (a fault-injecting wrapper around a real side).
#pragma once

#include "storage/local_side.h"
#include "storage/server_side.h"

namespace tandrel {

LocalSide& localSide();
ServerSide& serverSide();

// Makes `side` the one returned from now on; nullptr restores the real one.
// The caller keeps ownership.
void installLocalSide(LocalSide* side);
void installServerSide(ServerSide* side);

}  // namespace tandrel

namespace tandrel {

// Opens and closes the run's use of the network library (the "internet
// session"): everything the server side needs before it can connect.
bool openSession();
void closeSession();

}  // namespace tandrel
