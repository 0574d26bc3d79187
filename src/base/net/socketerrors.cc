#include "base/net/socketerrors.h"

#include <errno.h>

namespace vexalo {

int SocketErrorFromErrno(int error) {
  switch (error) {
    case 0: return 0;
    case EINTR: return kSocketInterrupted;
    case EBADF: return kSocketBadDescriptor;
    case EACCES:
    case EPERM: return kSocketAccessDenied;
    case EFAULT: return kSocketFault;
    case EINVAL: return kSocketInvalidArgument;
    case EMFILE:
    case ENFILE: return kSocketTooManyFiles;
    case EAGAIN: return kSocketWouldBlock;  // EWOULDBLOCK is the same value on Linux
    case EINPROGRESS: return kSocketInProgress;
    case EALREADY: return kSocketAlready;
    case ENOTSOCK: return kSocketNotSocket;
    case EMSGSIZE: return kSocketMessageSize;
    case EOPNOTSUPP: return kSocketNotSupported;
    case EAFNOSUPPORT: return kSocketAddressFamily;
    case EADDRINUSE: return kSocketAddressInUse;
    case EADDRNOTAVAIL: return kSocketAddressNotAvailable;
    case ENETDOWN: return kSocketNetworkDown;
    case ENETUNREACH: return kSocketNetworkUnreachable;
    case ENETRESET: return kSocketNetworkReset;
    case ECONNABORTED:
    case EPIPE: return kSocketConnectionAborted;
    case ECONNRESET: return kSocketConnectionReset;
    case ENOBUFS:
    case ENOMEM: return kSocketNoBuffers;
    case EISCONN: return kSocketIsConnected;
    case ENOTCONN: return kSocketNotConnected;
    case ESHUTDOWN: return kSocketShutDown;
    case ETIMEDOUT: return kSocketTimedOut;
    case ECONNREFUSED: return kSocketConnectionRefused;
    case EHOSTDOWN: return kSocketHostDown;
    case EHOSTUNREACH: return kSocketHostUnreachable;
    default: return error;
  }
}

const char* SocketErrorText(int error) {
  switch (error) {
    case kSocketInterrupted: return "interrupted";
    case kSocketBadDescriptor: return "bad descriptor";
    case kSocketAccessDenied: return "access denied";
    case kSocketInvalidArgument: return "invalid argument";
    case kSocketTooManyFiles: return "too many open files";
    case kSocketWouldBlock: return "operation would block";
    case kSocketInProgress: return "operation in progress";
    case kSocketMessageSize: return "message too long";
    case kSocketAddressInUse: return "address in use";
    case kSocketAddressNotAvailable: return "address not available";
    case kSocketNetworkDown: return "network is down";
    case kSocketNetworkUnreachable: return "network unreachable";
    case kSocketConnectionAborted: return "connection aborted";
    case kSocketConnectionReset: return "connection reset by peer";
    case kSocketNoBuffers: return "no buffer space";
    case kSocketNotConnected: return "not connected";
    case kSocketTimedOut: return "connection timed out";
    case kSocketConnectionRefused: return "connection refused";
    case kSocketHostUnreachable: return "host unreachable";
    case kSocketHostNotFound: return "host not found";
    default: return nullptr;
  }
}

}  // namespace vexalo
