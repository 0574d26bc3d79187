#pragma once

#include "app/loginsettings.h"
#include "xml/xmlerror.h"

namespace vexalo {

class SignInSink;
class StepTaskParent;

// What the sign-in manager asks of the application object: start and end connection attempts
// and keep a connection alive. PhoneApp in the program; a recording fake in the fast tests.
class SignInClient {
 public:
  virtual ~SignInClient() = default;

  // Where the connection's outcome is reported; null: nowhere.
  virtual void SetSignInSink(SignInSink* sink) = 0;
  // Starts one attempt; a running one is dropped first.
  virtual void Login(LoginSettings settings) = 0;
  // Ends the connection in order.
  virtual void Logout() = 0;
  // Drops the connection without a word to the server or the sink (the network is gone).
  virtual void Abandon() = 0;
  // A space on the stream, so that idle connections survive proxies and NATs.
  virtual void SendKeepAlive() = 0;
  // Whether an attempt or a signed-in connection exists.
  virtual bool HasConnection() const = 0;
  // Where the sign-in's own tasks (name lookups) run.
  virtual StepTaskParent* task_parent() = 0;
  // What was wrong with the XML of the last connection that ended on an XML error, so the
  // user can be told (a stanza over the limit, a DTD, bad XML).
  virtual XmlErrorKind last_xml_error() const = 0;
};

}  // namespace vexalo
