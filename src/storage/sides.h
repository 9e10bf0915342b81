// The run's use of the network library, which the server side needs before it
// can connect. The sides themselves belong to whoever runs the synchronisation:
// the tool creates the real ones, tests their own.
#pragma once

#include "storage/server_side.h"

namespace tandrel {

// Opens the run's use of the network library (the "internet session").
Status openSession();
// Disconnects `server` (safe when it is not connected) and closes the session.
void closeSession(ServerSide& server);

}  // namespace tandrel
