// The vexalo executable: prepares the process, reads the command line, runs a one-shot
// command or makes sure of a single instance, then runs the main window on the GLib main loop
// until it closes or the session ends.
#include <glib-unix.h>
#include <glib.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/accountauthserver.h"
#include "app/linux/phonewindow.h"
#include "app/linux/startupservices.h"
#include "app/productidentity.h"
#include "app/phoneapp.h"
#include "app/signinmanager.h"
#include "app/serviceprofile.h"
#include "app/settingsstore.h"
#include "app/startoptions.h"
#include "base/runtime/glibqueuesource.h"
#include "base/runtime/logging.h"
#include "base/runtime/logoptions.h"
#include "base/runtime/secrettext.h"
#include "base/runtime/timeutils.h"
#include "platform/autostartentry.h"
#include "platform/handoverserver.h"
#include "platform/mailtohandler.h"
#include "platform/networkmonitor.h"
#include "platform/powermonitor.h"
#include "platform/registryfile.h"
#include "platform/runninginstance.h"
#include "platform/secretservicestore.h"
#include "platform/singleinstance.h"
#include "platform/xdgpaths.h"
#include "ui/console/consolefrontend.h"
#include "voice/pulseaudiooutput.h"
#include "voice/voiceengine.h"
#include "voice/wavfileinput.h"
#include "voice/wavfileoutput.h"
#include "ui/gtk/gtkfrontend.h"
#include "xmpp/stream/servicedomains.h"

namespace vexalo {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
// The longest the console waits at its end for the sign-out's stream end to go out.
constexpr guint kSignOutWaitMs = 3000;

void Complain(const std::string& text) { std::fprintf(stderr, "vexalo: %s\n", text.c_str()); }

// A later start hands its text to the running instance and ends.
int HandOverAndExit(RunningInstance running, uint32_t code, const std::string& text) {
  const HandOverResult result = HandOver(std::move(running), code, text);
  if (result == HandOverResult::kHandled) return kExitOk;
  Complain(std::string("the running instance did not take the request: ") +
           HandOverResultName(result));
  return kExitFailure;
}

int FactoryReset(RegistryFile* registry, const ProductIdentity& identity) {
  const std::string root = identity.RegistryRoot();
  const bool deleted = registry->Edit([&](RegistryTree& tree) { tree.DeleteKey(root); });
  // The passwords that the deleted values referred to go too.
  SecretServiceStore secrets;
  const SecretResult cleared = secrets.ClearAll();
  LOG(kInfo) << "FactoryReset - settings " << (deleted ? "deleted" : "NOT deleted")
             << ", passwords: " << SecretResultName(cleared);
  if (!deleted) {
    Complain("cannot delete the settings in " + registry->path());
    return kExitFailure;
  }
  return kExitOk;
}

int Register(SettingsStore* settings, AutostartEntry* autostart, MailtoHandler* mailto,
             StartupServices* services) {
  bool ok = autostart->Update(settings->Current().autostart);
  std::string previous;
  if (mailto->Register(&previous)) {
    Settings record = settings->Current();
    record.mailto_is_registered = true;
    // A second registration finds itself as the handler and keeps the first backup.
    if (!previous.empty()) record.mailto_backup_handler = RegValue::String(previous);
    ok = settings->Save(record, kSettingsSourceProgram).written && ok;
  } else {
    ok = false;
  }
  services->PrepareStockPictures();
  if (!ok) Complain("registration incomplete; see the messages above");
  return ok ? kExitOk : kExitFailure;
}

int Unregister(SettingsStore* settings, AutostartEntry* autostart, MailtoHandler* mailto) {
  const std::string* backup = settings->Current().mailto_backup_handler.AsString();
  bool ok = mailto->Unregister(backup ? *backup : std::string());
  ok = autostart->Remove() && ok;
  Settings record = settings->Current();
  record.mailto_is_registered = false;
  record.mailto_backup_handler = RegValue::String("");
  ok = settings->Save(record, kSettingsSourceProgram).written && ok;
  if (!ok) Complain("unregistration incomplete; see the messages above");
  return ok ? kExitOk : kExitFailure;
}

// SIGTERM, SIGINT and SIGHUP end the session: the window goes, the instance lock is released
// and the process ends at once with 0.
struct EndSession {
  int signal_number;
  PhoneWindow* window;
  SingleInstance* instance;
};

gboolean OnEndSession(gpointer data) {
  auto* end = static_cast<EndSession*>(data);
  LOG(kWarning) << "Handling session end (signal " << end->signal_number << ")";
  end->window->Destroy();
  end->instance->Release();
  std::fflush(nullptr);
  _exit(kExitOk);
}

// The password a script hands the console. Taken once and removed before any thread or child
// starts, so that no child (dbus-launch, a browser) inherits it.
SecretText TakePasswordFromEnvironment() {
  char* value = std::getenv("VEXALO_PASSWORD");
  std::string clear = value != nullptr ? value : "";
  if (value != nullptr) std::memset(value, 0, std::strlen(value));
  unsetenv("VEXALO_PASSWORD");
  SecretText password = SecretText::FromClearText(clear);
  WipeString(&clear);
  return password;
}

// Ends the main loop once the sign-out has closed the stream and the connection is gone (its
// socket closed after our "</stream:stream>" went out), or after kSignOutWaitMs at the latest.
class QuitAfterSignOut {
 public:
  QuitAfterSignOut(GMainLoop* loop, PhoneWindow* window) : loop_(loop), window_(window) {}
  ~QuitAfterSignOut() {
    if (timer_ != 0) g_source_remove(timer_);
  }
  QuitAfterSignOut(const QuitAfterSignOut&) = delete;
  QuitAfterSignOut& operator=(const QuitAfterSignOut&) = delete;

  void Start() {
    if (timer_ != 0) return;
    deadline_ = TickNow() + kSignOutWaitMs;
    if (!Check()) timer_ = g_timeout_add(kCheckIntervalMs, &QuitAfterSignOut::OnTimer, this);
  }

 private:
  static constexpr guint kCheckIntervalMs = 10;

  // True (and the loop told to end) when the wait is over.
  bool Check() {
    const SignInManager* signin = window_->signin();
    const bool closed = (signin == nullptr || signin->login_state() == LoginState::kSignedOut) &&
                        window_->app()->connection() == nullptr &&
                        window_->app()->runner()->task_count() == 0;
    if (!closed && TickNow() < deadline_) return false;
    if (!closed) LOG(kWarning) << "The sign-out did not finish in time; ending anyway";
    g_main_loop_quit(loop_);
    return true;
  }
  static gboolean OnTimer(gpointer data) {
    auto* self = static_cast<QuitAfterSignOut*>(data);
    if (!self->Check()) return G_SOURCE_CONTINUE;
    self->timer_ = 0;
    return G_SOURCE_REMOVE;
  }

  GMainLoop* loop_;
  PhoneWindow* window_;
  Tick deadline_ = 0;
  guint timer_ = 0;
};

// "Vexalo.v" and the build number (the version's last component): the resource bound when
// neither the account nor the user chose one.
std::string DefaultResource(const std::string& version) {
  const size_t dot = version.rfind('.');
  return "Vexalo.v" + (dot == std::string::npos ? version : version.substr(dot + 1));
}

// Sound files where the command line names them, else the sound server's default devices.
PhoneApp::VoiceEngineFactory MakeVoiceEngineFactory(std::optional<std::string> in_wav,
                                                    std::optional<std::string> out_wav) {
  return [in_wav, out_wav]() {
    auto engine = std::make_unique<VoiceEngine>();
    std::unique_ptr<AudioInput> input;
    std::unique_ptr<AudioOutput> output;
    if (in_wav) input = std::make_unique<WavFileInput>(*in_wav, true);
    if (out_wav) output = std::make_unique<WavFileOutput>(*out_wav);
    if (input || output) engine->SetAudioDevices(std::move(input), std::move(output));
    return engine;
  };
}

int RunNormal(const StartOptions& options, const ProductIdentity& identity,
              const InstancePaths& instance_paths, RegistryFile* registry, SettingsStore* settings,
              SecretStore* secrets, AutostartEntry* autostart, MailtoHandler* mailto,
              StartupServices* services, SecretText console_password, Tick start_tick) {
  SingleInstance instance(instance_paths, registry, identity.ProcessKey());
  bool checkupdate = options.checkupdate;
  // A terminal client runs beside a desktop one; it takes no hand-overs.
  if (!options.nomutex && !options.console) {
    const SingleInstance::Result result = instance.Acquire(options.forcestart);
    if (result.failed) {
      Complain("cannot use " + instance_paths.dir + " to guard the single instance");
      return kExitFailure;
    }
    if (!result.acquired) return kExitOk;
    if (result.stale_pid) {
      LOG(kWarning) << "The previous instance did not end in order; checking for an update";
      checkupdate = true;
    }
  }

  std::optional<InvitationRecord> invitation = services->ReadInvitation();
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  std::unique_ptr<GlibQueueSource> queue_source = GlibQueueSource::ForMainThread();

  PhoneWindow::Environment environment;
  environment.settings = settings;
  environment.services = services;
  environment.autostart_entry = autostart;
  environment.mailto_handler = mailto;
  environment.loop = loop;
  environment.registry = registry;
  environment.secrets = secrets;
  environment.root_key = identity.RegistryRoot();
  std::vector<std::string> profile_errors;
  environment.profile = ServiceProfile::FromEnvironment(options.service_overrides, &profile_errors);
  for (const std::string& error : profile_errors) Complain(error);
  SetServiceDomains({environment.profile.account_domain, environment.profile.xmpp_host});
  if (const char* ca_file = std::getenv("VEXALO_CA_FILE")) environment.ca_file = ca_file;
  environment.default_resource = DefaultResource(identity.version);
  NetworkMonitor network;
  PowerMonitor power;
  environment.network = &network;
  environment.power = &power;
  PhoneWindow::StartFlags flags{options.autostart, checkupdate, options.no_account_token};
  auto window = std::make_unique<PhoneWindow>(environment, std::move(invitation), flags);

  int exit_code = kExitFailure;
  if (queue_source && window->Create()) {
    std::unique_ptr<HandOverServer> server;
    if (instance.listen_fd() >= 0) {
      PhoneWindow* target = window.get();
      server = std::make_unique<HandOverServer>(instance.listen_fd(),
                                                [target](uint32_t code, const std::string& text) {
                                                  return target->OnHandOver(code, text);
                                                });
    }
    std::unique_ptr<ConsoleFrontEnd> console;
    std::unique_ptr<GtkFrontEnd> desktop;
    QuitAfterSignOut quit_after_sign_out(loop, window.get());
    // Each signed-in connection's calls get a voice engine with these sound devices.
    window->app()->SetCallSettings(environment.profile.SessionNamespace(),
                                   environment.profile.PhoneNamespace(),
                                   MakeVoiceEngineFactory(options.audio_in, options.audio_out));
    // Call sounds play on the sound server's default output; with sound files as devices they
    // keep their timing but reach no device.
    window->app()->SetCallSoundOutput([files = options.audio_out.has_value()]() {
      return files ? nullptr : std::make_unique<PulseAudioOutput>("");
    });
    if (options.console) {
      console = std::make_unique<ConsoleFrontEnd>(window.get(), STDIN_FILENO, stdout,
                                                  std::move(console_password),
                                                  [&] { quit_after_sign_out.Start(); });
      console->SetAutoAnswer(options.auto_answer);
    } else {
      if (!options.headless) {
        desktop = std::make_unique<GtkFrontEnd>(window.get(), settings,
                                                [&] { quit_after_sign_out.Start(); });
      }
      if (!options.autostart) window->Show();
    }

    EndSession ends[] = {{SIGTERM, window.get(), &instance},
                         {SIGINT, window.get(), &instance},
                         {SIGHUP, window.get(), &instance}};
    std::vector<guint> signal_sources;
    for (EndSession& end : ends) {
      signal_sources.push_back(g_unix_signal_add(end.signal_number, &OnEndSession, &end));
    }

    LOG(kInfo) << "Main loop starts " << TickDiff(TickNow(), start_tick) << " ms after start";
    g_main_loop_run(loop);
    LOG(kWarning) << "Main loop done";
    exit_code = window->exit_code();
    console.reset();
    desktop.reset();
    for (guint id : signal_sources) g_source_remove(id);
  } else {
    LOG(kError) << "The main window could not be created";
  }

  instance.Release();
  window.reset();
  queue_source.reset();
  g_main_loop_unref(loop);
  return exit_code;
}

int Run(int argc, char** argv) {
  const Tick start_tick = TickNow();
  SecretText console_password = TakePasswordFromEnvironment();
  StartupServices services;
  services.InstallCrashHandler();
  // Sockets report a closed peer as an error, not as a signal that ends the process.
  signal(SIGPIPE, SIG_IGN);
  LogToDebug(kWarning);

  const CommandLine command_line =
      ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (!command_line.ok()) {
    Complain(command_line.ErrorText());
    return kExitUsage;
  }
  const StartOptions& options = command_line.options;
  const ProductIdentity identity = ProductIdentity::FromBuild();
  if (options.help) {
    std::fputs(UsageText().c_str(), stdout);
    return kExitOk;
  }
  if (options.version) {
    std::printf("%s %s\n", identity.product_name.c_str(), identity.version.c_str());
    return kExitOk;
  }

  const InstancePaths instance_paths = InstancePaths::In(XdgPaths::RuntimeDir());
  if (options.log_options) {
    if (std::optional<RunningInstance> running = FindRunningInstance(instance_paths.socket)) {
      return HandOverAndExit(std::move(*running), kCopyDataLogOptions, *options.log_options);
    }
    ApplyLogOptionText(*options.log_options, &services);
  }
  LOG(kInfo) << identity.product_name << " " << identity.version << " (" << identity.company << ")";

  RegistryFile registry(XdgPaths::SettingsFile());
  if (options.factoryreset) return FactoryReset(&registry, identity);
  if (options.account_auth_server) AccountAuthServer::Set(*options.account_auth_server);

  SecretServiceStore secrets;
  SettingsStore settings(&registry, identity.RegistryRoot(), &secrets);
  settings.Load();

  if (options.mailto) {
    if (std::optional<RunningInstance> running = FindRunningInstance(instance_paths.socket)) {
      return HandOverAndExit(std::move(*running), kCopyDataMailto, *options.mailto);
    }
    if (!services.OpenMailtoComposePage(*options.mailto)) {
      Complain("no running instance, and web-mail compose pages are not available");
      return kExitFailure;
    }
    return kExitOk;
  }

  const std::string executable = XdgPaths::ExecutablePath();
  AutostartEntry autostart(XdgPaths::AutostartDir(), executable, identity.product_name);
  MailtoHandler mailto(XdgPaths::ApplicationsDir(), executable, identity.product_name);
  if (options.register_app) return Register(&settings, &autostart, &mailto, &services);
  if (options.unregister_app) return Unregister(&settings, &autostart, &mailto);

  // The window needs a display; the terminal and headless forms do not.
  if (!options.console && !options.headless && !GtkFrontEnd::OpenDisplay()) {
    Complain("no display to open the window on (DISPLAY and WAYLAND_DISPLAY are unset or "
             "unreachable); use --console for the terminal front end");
    return kExitUsage;
  }
  return RunNormal(options, identity, instance_paths, &registry, &settings, &secrets, &autostart,
                   &mailto, &services, std::move(console_password), start_tick);
}

}  // namespace
}  // namespace vexalo

int main(int argc, char** argv) { return vexalo::Run(argc, argv); }
