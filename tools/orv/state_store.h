#pragma once

#include <nlohmann/json.hpp>

#include <functional>
#include <string>

namespace orv::standin {

using Json = nlohmann::ordered_json;

// The stand-in's whole state in one JSON file. A missing file reads as the
// default scene; a change is written atomically under a lock file so that
// overlapping runs do not lose each other's changes, into a file private
// to the user (it holds the account code).
class StateStore {
public:
  explicit StateStore(std::string path) : path_(std::move(path)) {}

  const std::string& Path() const { return path_; }
  // Throws std::runtime_error for an unreadable or malformed file.
  Json Load() const;
  // Loads the current state, applies the change and saves it.
  void Update(const std::function<void(Json&)>& change);

private:
  std::string path_;
};

// The scene a missing state file stands for (see README.md).
Json DefaultScene();

}  // namespace orv::standin
