#include "app/phoneapp.h"

// Before anything that brings the P2P candidate header: its namespace-wide PROTO_TCP would
// otherwise be shadowed by the socket's own enumerators (clang's -Wshadow).
#include "base/net/stackedservicesocket.h"

#include <glib.h>

#include <algorithm>

#include "app/accountportallocator.h"
#include "app/turnservicefeed.h"
#include "app/filetransfers.h"
#include "app/chatsession.h"
#include "app/contactrecord.h"
#include "app/phonecalls.h"
#include "app/settings.h"
#include "app/settingsstore.h"
#include "app/signinsink.h"
#include "base/runtime/logging.h"
#include "p2p/client/sessionstack.h"
#include "p2p/client/sessionworker.h"
#include "xmpp/server/relayinfotask.h"
#include "xmpp/stream/constants.h"
#include "xmpp/stream/xmppconnection.h"

namespace vexalo {
namespace {

constexpr char kUserAgent[] = "Vexalo";

bool IsConflict(const XmlElem* stream_error) {
  if (stream_error == nullptr) return false;
  for (const XmlElem* child = stream_error->FirstChildElement(); child != nullptr;
       child = child->NextSiblingElement()) {
    if (child->Name().LocalName() == "conflict") return true;
  }
  return false;
}

}  // namespace

PhoneApp::PhoneApp(PhoneWindow* window, SettingsStore* settings)
    : window_(window), settings_(settings) {
  LOG(kVerbose) << "PhoneApp::PhoneApp";
}

PhoneApp::~PhoneApp() {
  LOG(kVerbose) << "PhoneApp::~PhoneApp";
  session_.reset();
  server_settings_.reset();
  DropConnection();
}

EventQueue* PhoneApp::session_worker() {
  if (session_worker_ == nullptr) {
    session_worker_ = std::make_unique<SessionWorker>();
    session_worker_->Start();
  }
  return session_worker_.get();
}

void PhoneApp::UseServicePortAllocator(ServiceProfile profile, bool include_loopback) {
  allocator_profile_ = std::move(profile);
  allocator_loopback_ = include_loopback;
}

void PhoneApp::PrepareAccountAllocator(const LoginSettings& settings) {
  if (!allocator_profile_) return;
  if (account_allocator_ == nullptr) {
    account_allocator_ = std::make_unique<AccountPortAllocator>(
        session_worker(), *allocator_profile_, allocator_loopback_);
    port_allocator_ = account_allocator_->allocator();
  }
  account_allocator_->SetAccount(settings.account);
  account_allocator_->SetProxy(kUserAgent, settings.attempt.proxy);
  if (settings_ != nullptr) account_allocator_->ApplySettings(settings_->Current());
}

void PhoneApp::StartRelayInfo() {
  if (account_allocator_ == nullptr) return;
  // A child of the connection: it goes when the connection does.
  auto* relay_info = new RelayInfoTask(connection_);
  relay_info->SignalRelayInfo.Connect(account_allocator_.get(),
                                      &AccountPortAllocator::ApplyRelayInfo);
  relay_info->Start();
  relay_info->Request();
  // The user's own server's TURN services, for when the service's relay is absent.
  if (turn_feed_ == nullptr)
    turn_feed_ = std::make_unique<TurnServiceFeed>(account_allocator_.get());
  turn_feed_->Start(connection_);
}

void PhoneApp::StartFileTransfers() {
  const ServiceProfile profile = allocator_profile_.value_or(ServiceProfile::Defaults());
  FileTransfers::Options options;
  options.session_namespace = profile.SessionNamespace();
  options.tunnel_namespace = profile.TunnelNamespace();
  options.download_folder = download_folder_;
  if (options.download_folder.empty()) {
    const char* downloads = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD);
    options.download_folder = downloads != nullptr ? downloads : g_get_home_dir();
  }
  const int64_t megabytes = settings_ != nullptr ? settings_->Current().max_file_megabytes
                                                 : Settings().max_file_megabytes;
  options.max_size = static_cast<uint64_t>(std::max<int64_t>(megabytes, 0)) << 20;
  options.is_contact = [this](const XmppAddress& contact) {
    return session_ != nullptr && session_->roster().count(contact) > 0;
  };
  file_transfers_ = std::make_unique<FileTransfers>(
      session_stack_->registry(), session_stack_->local_jid(), std::move(options));
  session_stack_->AddClient(file_transfers_->client());
  SignalFileTransfersStarted(file_transfers_.get());
}

void PhoneApp::DropConnection() {
  file_transfers_.reset();
  calls_.reset();
  session_stack_.reset();
  if (session_ != nullptr) {
    SignalSessionEnded();
    session_.reset();
  }
  server_settings_.reset();
  signed_in_ = false;
  if (connection_ == nullptr) return;
  XmppConnection* connection = connection_;
  connection_ = nullptr;
  connection->SignalStateChange.Disconnect(this);
  connection->SignalLogInput.Disconnect(this);
  connection->SignalLogOutput.Disconnect(this);
  if (connection->engine() != nullptr) connection->engine()->Disconnect();
  connection->Abort();
}

void PhoneApp::Login(LoginSettings settings) {
  DropConnection();
  signed_in_ = false;
  logout_requested_ = false;
  const ConnectionAttempt& attempt = settings.attempt;
  PrepareAccountAllocator(settings);
  auto socket = std::make_unique<StackedServiceSocket>(
      attempt.protocol == ConnectionAttempt::kSslTcp ? StackedServiceSocket::PROTO_SSLTCP
                                                     : StackedServiceSocket::PROTO_TCP,
      attempt.proxy, kUserAgent);
  if (!settings.ca_file.empty()) socket->SetCaFile(settings.ca_file);
  socket->ProxyAuthenticationRequired.Connect(this, [this] {
    if (sink_ != nullptr) sink_->OnProxyAuthenticationRequired();
  });

  ConnectionSettings connection_settings;
  connection_settings.user = settings.account.NodePart();
  connection_settings.host = settings.account.DomainPart();
  connection_settings.password = settings.password;
  connection_settings.auth_cookie = settings.token;
  connection_settings.resource = settings.resource;
  connection_settings.use_tls = settings.tls_required;
  connection_settings.server = attempt.server;
  connection_settings.server_host_name = attempt.server.hostname();
  connection_settings.server_port = attempt.server.port();
  connection_settings.tls_server_name = settings.tls_server_name;

  connection_ = new XmppConnection(&runner_);
  connection_->SignalStateChange.Connect(this, &PhoneApp::OnConnectionState);
  connection_->SignalLogInput.Connect(
      this, [this](const char* bytes, size_t n) { traffic_log_.LogInput(bytes, n); });
  connection_->SignalLogOutput.Connect(
      this, [this](const char* bytes, size_t n) { traffic_log_.LogOutput(bytes, n); });
  if (connection_->Connect(connection_settings, std::move(socket),
                           std::move(settings.authenticator)) != EngineResult::kOk) {
    LOG(kError) << "PhoneApp::Login - the connection refused its settings";
    XmppConnection* failed = connection_;
    connection_ = nullptr;
    delete failed;  // never started: still ours
    if (sink_ != nullptr) sink_->HandleConnectionError(EngineError::kAuthFailed, "");
    return;
  }
  connection_->Start();
  if (sink_ != nullptr) sink_->SetLoginState(LoginState::kConnecting);
}

void PhoneApp::Logout() {
  if (connection_ == nullptr) return;
  logout_requested_ = true;
  if (connection_->engine() != nullptr) connection_->engine()->Disconnect();
}

void PhoneApp::SendKeepAlive() {
  if (connection_ != nullptr && connection_->engine() != nullptr) {
    connection_->engine()->SendRaw(" ");
  }
}

void PhoneApp::OnConnectionState(EngineState state) {
  if (connection_ == nullptr) return;
  switch (state) {
    case EngineState::kOpening:
      if (sink_ != nullptr) sink_->SetLoginState(LoginState::kAuthenticating);
      return;
    case EngineState::kOpen:
      signed_in_ = true;
      bound_ = connection_->GetBoundAddress();
      session_ = std::make_unique<ChatSession>(connection_);
      if (voice_engine_factory_ && settings_ != nullptr && settings_->Current().enable_phone) {
        session_->SetCapabilities({ContactRecord::kVoiceCapability});
      }
      session_->SetStatus(ShowState::kOnline, false, "");
      server_settings_ = std::make_unique<ServerUserSettings>(connection_);
      StartRelayInfo();
      if (port_allocator_ != nullptr) {
        session_stack_ =
            std::make_unique<SessionStack>(connection_, port_allocator_, session_worker());
        SignalSessionStackStarted(session_stack_.get());
        StartFileTransfers();
        StartCalls();
      }
      SignalSessionStarted(session_.get());
      if (sink_ != nullptr) sink_->OnSignedIn(bound_);
      return;
    case EngineState::kNew:
      return;
    case EngineState::kClosed:
      break;
  }
  EngineError error = connection_->GetError();
  last_xml_error_ = connection_->engine() != nullptr ? connection_->engine()->GetXmlErrorKind()
                                                     : XmlErrorKind::kNone;
  const std::string captcha = connection_->GetCaptchaChallenge();
  const bool conflict =
      connection_->engine() != nullptr && IsConflict(connection_->engine()->GetStreamError());
  const bool was_signed_in = signed_in_;
  // The runner deletes the finished task; nothing of it is touched after this.
  connection_->SignalStateChange.Disconnect(this);
  connection_ = nullptr;
  file_transfers_.reset();
  calls_.reset();
  session_stack_.reset();
  signed_in_ = false;
  if (was_signed_in) SignalSessionEnded();
  session_.reset();
  server_settings_.reset();
  // A connection that could not even start reports no error; it failed all the same.
  if (error == EngineError::kNone && !logout_requested_ && !was_signed_in) {
    error = EngineError::kConnectionClosed;
  }
  LOG(kInfo) << "PhoneApp - connection closed: " << EngineErrorName(error);
  if (sink_ == nullptr) return;
  if (error == EngineError::kNone) {
    sink_->OnSignedOut();
  } else if (was_signed_in) {
    sink_->OnConnectionLost(error, conflict);
  } else {
    sink_->HandleConnectionError(error, captcha);
  }
}

void PhoneApp::OnUserSettingsChanged(const Settings& old_settings, const Settings& new_settings) {
  if (account_allocator_ != nullptr) account_allocator_->ApplySettings(new_settings);
  if (IsSignedIn() && old_settings.enable_phone != new_settings.enable_phone) {
    // "voice-v1" is announced exactly while calls are on.
    if (new_settings.enable_phone) {
      StartCalls();
    } else {
      calls_.reset();
    }
    if (session_ != nullptr && voice_engine_factory_) {
      session_->SetCapabilities(new_settings.enable_phone
                                    ? std::set<std::string>{ContactRecord::kVoiceCapability}
                                    : std::set<std::string>{});
    }
  }
  if (calls_ != nullptr && (old_settings.audio_in != new_settings.audio_in ||
                            old_settings.audio_out != new_settings.audio_out ||
                            old_settings.adjust_mic != new_settings.adjust_mic)) {
    calls_->ApplyAudioSettings(new_settings);
  }
  if (calls_ != nullptr) calls_->SetSoundSettings(new_settings);
  if (!IsSignedIn() || server_settings_ == nullptr) return;
  server_settings_->StoreMailNotifications(new_settings.MailNoteOn());
}

void PhoneApp::SetCallSettings(std::string session_namespace, std::string phone_namespace,
                               VoiceEngineFactory factory) {
  session_namespace_ = std::move(session_namespace);
  phone_namespace_ = std::move(phone_namespace);
  voice_engine_factory_ = std::move(factory);
}

void PhoneApp::StartCalls() {
  if (!voice_engine_factory_ || session_stack_ == nullptr) return;
  if (settings_ != nullptr && !settings_->Current().enable_phone) return;
  calls_ = std::make_unique<PhoneCalls>(session_stack_->registry(), session_stack_->local_jid(),
                                        session_.get(), session_namespace_, phone_namespace_,
                                        voice_engine_factory_());
  session_stack_->AddClient(calls_->call_client());
  if (settings_ != nullptr) calls_->SetSoundSettings(settings_->Current());
  if (call_sound_output_) calls_->SetCallSounds(std::make_unique<SoundPlayer>(call_sound_output_));
  SignalCallsStarted(calls_.get());
}

}  // namespace vexalo
