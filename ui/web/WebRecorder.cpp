#include "ui/web/WebRecorder.h"

#include <filesystem>

#include "bridge/BridgeFlutterApiCodec.h"
#include "bridge/NativeAudioEvent.h"

namespace harkwell {

WebRecorder::WebRecorder(std::string path, std::function<void(const std::string&)> say)
    : path_(std::move(path)), say_(std::move(say)) {}

std::string WebRecorder::pathFor(bool output, const std::string& id) const {
  // The id comes from the backend; only harmless characters reach the file name.
  std::string safe = id;
  for (char& c : safe) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '_' || c == '.';
    if (!plain) c = '_';
  }
  const std::filesystem::path path(path_);
  const std::string name =
      path.stem().string() + (output ? "-output-" : "-input-") + safe + path.extension().string();
  return (path.parent_path() / name).string();
}

void WebRecorder::onEventMessage(std::span<const std::uint8_t> message) {
  const CodecDecodeResult decoded = BridgeFlutterApiCodec::shared().decode(message);
  if (!decoded.ok()) return;
  const CodecList* list = decoded.value->getIf<CodecList>();
  const NativeAudioEvent* event =
      list != nullptr && !list->empty() ? (*list)[0].custom<NativeAudioEvent>() : nullptr;
  if (event == nullptr) return;
  const std::string path = pathFor(event->type == AudioDeviceType::output, event->id);
  std::string error;
  switch (event->eventType) {
    case NativeAudioEventType::deviceStart:
      if (auto file =
              WavFileWriter::create(path, 1, {"harkwell", "recorded from the web page"}, error)) {
        files_[path] = std::move(file);
        say_("recording " + event->id + " to " + path);
      } else {
        say_("cannot record " + event->id + ": " + error);
      }
      return;
    case NativeAudioEventType::deviceStop:
      if (auto found = files_.find(path); found != files_.end()) {
        if (found->second->commit(error)) {
          say_("wrote " + path);
        } else {
          say_("cannot finish " + path + ": " + error + "; what was saved is in " +
               found->second->temporaryPath());
        }
        files_.erase(found);
      }
      return;
    case NativeAudioEventType::deviceAudioData:
      if (auto found = files_.find(path); found != files_.end() && event->audioData) {
        scratch_.clear();
        for (const auto& sample : *event->audioData)
          scratch_.push_back(static_cast<float>(sample.value_or(0)));
        if (!found->second->write(scratch_, error)) {
          say_("cannot write " + path + ", recording stopped: " + error);
          files_.erase(found);
        }
      }
      return;
    default:
      return;
  }
}

}  // namespace harkwell
