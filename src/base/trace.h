#pragma once
// The trace switches of every module: the only process-wide globals besides
// the stop flag (base/stop.h). They add console output and never change what
// is sent, written or logged.

namespace velkor::trace {

inline int fifo = 0;         // debug_fifo
inline int control = 0;      // debug_mbus_control: dispatcher and result files
inline int encode = 0;       // debug_mbus_encode: frame checks and slave search
inline int decode = 0;       // debug_mbus_decode: record dump
inline int transceiver = 0;  // debug_mbus_transceiver
inline int serial = 0;       // debug_serial
inline int fileio = 0;       // debug_fileio
inline int logging = 0;      // debug_mbus_log

} // namespace velkor::trace
