// The tool's own transfer watch: a one-line indicator of a transfer's progress
// for transfers that take more than about a second, shown only on a terminal
// and erased when the transfer ends; a transfer is cancelled once an
// interruption has arrived.
#pragma once

#include "storage/transfer_watch.h"

namespace tandrel {

// The one watch of the process; install it with installTransferWatch.
TransferWatch& terminalTransferWatch();

}  // namespace tandrel
