#pragma once

#include <memory>
#include <string>
#include <vector>

#include "p2p/client/sessionregistry.h"
#include "p2pclient/sessionpair.h"
#include "session/phone/callclient.h"
#include "voice/nullaudiodevice.h"
#include "voice/voiceengine.h"
#include "voice/wavfileinput.h"
#include "voice/wavfileoutput.h"

namespace vexalo {

inline const std::string kPhoneNs = "http://example.test/session/phone";

// A voice engine on the test's clock, with files (or silence) for its sound devices.
inline std::unique_ptr<VoiceEngine> ManualEngine(const std::string& in_wav = "",
                                                 const std::string& out_wav = "") {
  auto engine = std::make_unique<VoiceEngine>(VoiceEngine::Clock::kManual);
  std::unique_ptr<AudioInput> input;
  std::unique_ptr<AudioOutput> output;
  if (in_wav.empty()) {
    input = std::make_unique<NullAudioDevice>();
  } else {
    input = std::make_unique<WavFileInput>(in_wav, true);
  }
  if (out_wav.empty()) {
    output = std::make_unique<NullAudioDevice>();
  } else {
    output = std::make_unique<WavFileOutput>(out_wav);
  }
  engine->SetAudioDevices(std::move(input), std::move(output));
  return engine;
}

// One signed-in party with a call client, its ports on the test's address and clock.
struct CallParty {
  CallParty(const std::string& jid_in, VirtualQueue* queue,
            std::unique_ptr<VoiceEngine> voice = ManualEngine())
      : jid(jid_in),
        engine(voice.get()),
        allocator(queue, nullptr, PartyIp()),
        registry(&allocator, queue, nullptr),
        client(&registry, kSessionNs, kPhoneNs, jid_in, std::move(voice)) {}

  std::string jid;
  VoiceEngine* engine;  // owned by the client's channel pool
  LoopbackAllocator allocator;
  SessionRegistry registry;
  CallClient client;
  std::vector<std::string> replies;
};

}  // namespace vexalo
