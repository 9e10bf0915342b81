// The tool's own transfer watch: a one-line indicator of a transfer's progress
// for transfers that take more than about a second, shown only on a terminal
// and erased when the transfer ends; a transfer is cancelled once an
// interruption has arrived.
#pragma once

#include <memory>

#include "storage/transfer_watch.h"

namespace tandrel {

// A new watch of that kind, for a server side's setTransferWatch.
std::unique_ptr<TransferWatch> makeTerminalTransferWatch();

}  // namespace tandrel
