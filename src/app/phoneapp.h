#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/loginsettings.h"
#include "app/serverusersettings.h"
#include "app/serviceprofile.h"
#include "app/signinclient.h"
#include "base/runtime/queuetaskrunner.h"
#include "base/runtime/signal.h"
#include "voice/soundplayer.h"
#include "xmpp/stream/streamengine.h"
#include "xmpp/stream/xmppaddress.h"
#include "xmpp/stream/xmpptrafficlog.h"

namespace vexalo {

class AccountPortAllocator;
class TurnServiceFeed;
class ChatSession;
class FileTransfers;
class EventQueue;
class PhoneCalls;
class PhoneWindow;
class VoiceEngine;
class PortAllocator;
class SessionStack;
class SessionWorker;
class SettingsStore;
class SignInSink;
class XmppConnection;
struct Settings;

// The application object: owns the XMPP connection of the current attempt, follows its state
// and reports to the sign-in manager; the services of a signed-in connection hang off it.
// Created by PhoneWindow's constructor and deleted by its destructor.
class PhoneApp : public SignInClient, public SlotHost {
 public:
  PhoneApp(PhoneWindow* window, SettingsStore* settings);
  ~PhoneApp() override;
  PhoneApp(const PhoneApp&) = delete;
  PhoneApp& operator=(const PhoneApp&) = delete;

  // SignInClient
  void SetSignInSink(SignInSink* sink) override { sink_ = sink; }
  void Login(LoginSettings settings) override;
  void Logout() override;
  void Abandon() override { DropConnection(); }
  void SendKeepAlive() override;
  bool HasConnection() const override { return connection_ != nullptr; }
  StepTaskParent* task_parent() override { return &runner_; }

  bool IsSignedIn() const { return signed_in_; }
  XmppConnection* connection() const { return connection_; }
  QueueTaskRunner* runner() { return &runner_; }
  const XmppAddress& bound_address() const { return bound_; }
  // What was wrong with the server's XML when the last connection ended with kXmlError.
  XmlErrorKind last_xml_error() const override { return last_xml_error_; }

  // The user changed the options: while signed in, the server-side copy of the ones it mirrors
  // (the new-mail notice) is stored again when it differs.
  void OnUserSettingsChanged(const Settings& old_settings, const Settings& new_settings);

  PhoneWindow* window() const { return window_; }
  SettingsStore* settings() const { return settings_; }

  // The services of the signed-in connection; null while not signed in.
  ChatSession* session() const { return session_.get(); }
  // The server's copy of the user's settings; null while not signed in.
  ServerUserSettings* server_settings() const { return server_settings_.get(); }

  // The thread of the P2P sockets, started on first use (with a raised priority, best effort).
  EventQueue* session_worker();
  // The allocator the session stack gets at every sign-in from now on (used on
  // session_worker(), outlives this object); null: no session stack.
  void SetPortAllocator(PortAllocator* allocator) { port_allocator_ = allocator; }
  // Calls get the real allocator: made at the first sign-in on session_worker() and fed from
  // `profile`, the proxy of the attempt, the settings and the server's relay information.
  void UseServicePortAllocator(ServiceProfile profile, bool include_loopback = false);
  // Null before the first sign-in with UseServicePortAllocator.
  AccountPortAllocator* account_allocator() const { return account_allocator_.get(); }
  // The session layer of the signed-in connection; null while not signed in or without an
  // allocator. It is made when the connection opens and goes when it closes.
  SessionStack* session_stack() const { return session_stack_.get(); }
  Signal<SessionStack*> SignalSessionStackStarted;
  // Files over tunnels, made with the session stack at every sign-in; null without one.
  FileTransfers* file_transfers() const { return file_transfers_.get(); }
  Signal<FileTransfers*> SignalFileTransfersStarted;
  // Where accepted files go unless the user names a folder; empty: the XDG download folder.
  void SetDownloadFolder(std::string folder) { download_folder_ = std::move(folder); }

  // Calls: the session and phone namespaces and the maker of each connection's voice engine
  // (its sound devices). Without a factory, or with `enable_phone` off, there are no calls.
  using VoiceEngineFactory = std::function<std::unique_ptr<VoiceEngine>()>;
  void SetCallSettings(std::string session_namespace, std::string phone_namespace,
                       VoiceEngineFactory factory);
  // Where the ring, ring-back and call-waiting sounds play (opened while one plays; a factory
  // that gives null keeps their timing without a device); unset: no call sounds.
  void SetCallSoundOutput(SoundPlayer::OutputFactory factory) {
    call_sound_output_ = std::move(factory);
  }
  // The calls of the signed-in connection; null without a session stack or calls.
  PhoneCalls* calls() const { return calls_.get(); }
  Signal<PhoneCalls*> SignalCallsStarted;

  // A connection reached Open and its services started; and their end (before they go).
  Signal<ChatSession*> SignalSessionStarted;
  Signal<> SignalSessionEnded;

 private:
  void OnConnectionState(EngineState state);
  void PrepareAccountAllocator(const LoginSettings& settings);
  void StartFileTransfers();
  void StartCalls();
  void StartRelayInfo();
  void DropConnection();

  PhoneWindow* window_;
  SettingsStore* settings_;
  SignInSink* sink_ = nullptr;
  QueueTaskRunner runner_;
  XmppConnection* connection_ = nullptr;  // owned by the runner
  XmppTrafficLog traffic_log_;
  std::unique_ptr<ChatSession> session_;
  std::unique_ptr<ServerUserSettings> server_settings_;
  PortAllocator* port_allocator_ = nullptr;
  std::optional<ServiceProfile> allocator_profile_;
  bool allocator_loopback_ = false;
  // Outlives the worker, so no change is applied on the worker while it goes.
  std::unique_ptr<AccountPortAllocator> account_allocator_;
  // Feeds account_allocator_, so it goes first.
  std::unique_ptr<TurnServiceFeed> turn_feed_;
  // Declared before the stack: the stack's sockets are destroyed on the worker.
  std::unique_ptr<SessionWorker> session_worker_;
  std::unique_ptr<SessionStack> session_stack_;
  // Declared after the stack, so it goes first: its tunnel client is one of the stack's.
  std::unique_ptr<FileTransfers> file_transfers_;
  std::string download_folder_;
  // Goes before the stack: its session client lives on the stack's registry.
  std::unique_ptr<PhoneCalls> calls_;
  std::string session_namespace_;
  std::string phone_namespace_;
  VoiceEngineFactory voice_engine_factory_;
  SoundPlayer::OutputFactory call_sound_output_;
  XmppAddress bound_;
  bool signed_in_ = false;
  bool logout_requested_ = false;
  XmlErrorKind last_xml_error_ = XmlErrorKind::kNone;
};

}  // namespace vexalo
