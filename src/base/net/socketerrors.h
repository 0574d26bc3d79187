#pragma once

namespace vexalo {

// The socket error numbers the whole system speaks (logs and logic depend on their values).
// errno values are mapped onto them where the operating system reports an error.
inline constexpr int kSocketInterrupted = 10004;
inline constexpr int kSocketBadDescriptor = 10009;
inline constexpr int kSocketAccessDenied = 10013;
inline constexpr int kSocketFault = 10014;
inline constexpr int kSocketInvalidArgument = 10022;
inline constexpr int kSocketTooManyFiles = 10024;
inline constexpr int kSocketWouldBlock = 10035;
inline constexpr int kSocketInProgress = 10036;
inline constexpr int kSocketAlready = 10037;
inline constexpr int kSocketNotSocket = 10038;
inline constexpr int kSocketMessageSize = 10040;
inline constexpr int kSocketNotSupported = 10045;
inline constexpr int kSocketAddressFamily = 10047;
inline constexpr int kSocketAddressInUse = 10048;
inline constexpr int kSocketAddressNotAvailable = 10049;
inline constexpr int kSocketNetworkDown = 10050;
inline constexpr int kSocketNetworkUnreachable = 10051;
inline constexpr int kSocketNetworkReset = 10052;
inline constexpr int kSocketConnectionAborted = 10053;
inline constexpr int kSocketConnectionReset = 10054;
inline constexpr int kSocketNoBuffers = 10055;
inline constexpr int kSocketIsConnected = 10056;
inline constexpr int kSocketNotConnected = 10057;
inline constexpr int kSocketShutDown = 10058;
inline constexpr int kSocketTimedOut = 10060;
inline constexpr int kSocketConnectionRefused = 10061;
inline constexpr int kSocketHostDown = 10064;
inline constexpr int kSocketHostUnreachable = 10065;
inline constexpr int kSocketHostNotFound = 11001;

// The system's error number for an errno value; 0 stays 0, unknown values pass through.
int SocketErrorFromErrno(int error);

// True for the codes that mean "try again on the next event".
inline bool IsBlockingError(int error) {
  return error == kSocketWouldBlock || error == kSocketInProgress || error == 11;
}

// A short description of a system error number, or null when there is none.
const char* SocketErrorText(int error);

}  // namespace vexalo
