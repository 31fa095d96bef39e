#pragma once
// What the two music-player providers share: the read of a player over the
// scripting bridge, starting reads on the main actor, the playback commands
// and the logging of failed scripting events.
//
// Providers are made by their factories and always owned by shared_ptr: a
// read hands the provider to the player's application object as its delegate
// (held weakly), and the tasks they start keep the provider alive.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/nowplaying/NowPlayingProvider.h"
#include "platform/concurrency/Publisher.h"
#include "platform/concurrency/Task.h"
#include "platform/scripting/ScriptingBridge.h"

class ScriptingBridgeNowPlayingProvider : public NowPlayingProvider,
                                          public sb::SBApplicationDelegate,
                                          public conc::ObservableObject,
                                          public std::enable_shared_from_this<ScriptingBridgeNowPlayingProvider> {
 public:
  std::optional<NowPlayingInfo> nowPlayingInfo() const override { return nowPlayingInfo_.get(); }
  // $nowPlayingInfo: announces every stored outcome.
  conc::Published<std::optional<NowPlayingInfo>>& nowPlayingInfoPublisher() { return nowPlayingInfo_; }
  std::string bundleIdentifier() const override { return bundleIdentifier_; }

  conc::Task<void> refresh() override;
  // One read of the player; nothing when any step fails.
  virtual std::optional<NowPlayingInfo> readNowPlayingInfo() = 0;

  // Logs the provider's prefix directly followed by the error's description
  // and answers nil.
  ns::Value eventDidFail(const sb::AppleEvent& event, const ns::Error& error) override;

 protected:
  ScriptingBridgeNowPlayingProvider(std::string bundleIdentifier, std::string errorPrefix);

  // The player's own rules for two fields of the record.
  struct PlayerRules {
    std::function<double(sb::SBObject& track)> duration;  // in seconds
    std::function<std::optional<img::Image>(sb::SBObject& track)> artwork;
  };
  std::optional<NowPlayingInfo> readPlayer(const PlayerRules& rules);

  // Sends the command to a running player that answers it, then starts a read.
  conc::Task<void> sendCommand(std::string selector);

 private:
  const std::string bundleIdentifier_;
  const std::string errorPrefix_;
  conc::Published<std::optional<NowPlayingInfo>> nowPlayingInfo_{this, std::nullopt};
};
