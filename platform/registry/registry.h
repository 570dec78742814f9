#pragma once
// The per-user registry: where the module records its classes, ProgIDs,
// type library and component categories, and where hosts look before they
// create or script a control.
//
// File. One text file, by default $XDG_DATA_HOME/lumvara/registry
// (~/.local/share/lumvara/registry), or the path in $LUMVARA_REGISTRY. UTF-8,
// one entry a line:
//
//   ; comment (also lines starting with '#')
//   [CLSID/{GUID}/InprocServer32]     a key: its full path, parts joined by '/'
//   @=/usr/lib/liblumvara.so.0        the key's default value
//   ThreadingModel=Apartment          a named value
//
// A key line opens the key; the value lines below it belong to it until the
// next key line. A key may have no values (a marker). Names never contain
// '=' and key parts never contain '/'; in values "\\", "\n" and "\r" stand
// for a backslash, a line feed and a carriage return. Key paths and value
// names are compared exactly (GUIDs are written in upper case). Keys are
// written in sorted order, so a parent comes before its subkeys.
//
// Writers replace the file whole through a temporary file in the same folder
// and rename(), so a reader sees either the old or the new content, never a
// mix; Update() holds an flock() on "<file>.lock" around its read-modify-write
// so that two registering processes do not lose each other's entries.
//
// Thread safety: a Registry object is a plain value (one thread at a time);
// the file calls may run on any thread.

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace lumvara::registry {

// $LUMVARA_REGISTRY when set and not empty; else $XDG_DATA_HOME/lumvara/registry
// (an absolute $XDG_DATA_HOME only), else $HOME/.local/share/lumvara/registry.
// Empty when none of them can be formed.
std::string RegistryPath();

class Registry {
 public:
  // Reads `path`. A missing file is an empty registry (true). False, with the
  // object left empty, when the file cannot be read or a line is malformed;
  // `*error` (may be null) receives the errno-style cause (EINVAL for syntax).
  bool Load(const std::string& path, int* error = nullptr);
  // Writes the whole registry to `path` atomically, creating its folder.
  // False on failure (the old file stays), with the errno in `*error`.
  bool Save(const std::string& path, int* error = nullptr) const;

  // Text of the file Save() writes, and its parser (false on a malformed line).
  std::string Serialize() const;
  bool Parse(const std::string& text);

  bool HasKey(const std::string& key) const;
  // Creates the key and every missing parent.
  void CreateKey(const std::string& key);
  // Sets a value, creating the key. `name` "" is the default value ("@").
  void SetValue(const std::string& key, const std::string& name, const std::string& value);
  std::optional<std::string> GetValue(const std::string& key, const std::string& name = "") const;
  // Removes the key with all its subkeys and values. False when it did not exist.
  bool DeleteKey(const std::string& key);
  // The names of the direct subkeys of `key`, sorted.
  std::vector<std::string> SubKeys(const std::string& key) const;

  bool operator==(const Registry& other) const { return keys_ == other.keys_; }

 private:
  // Key path -> (value name -> value). Every parent of a key is present.
  std::map<std::string, std::map<std::string, std::string>> keys_;
};

// Loads the registry at `path` under its lock, lets `change` edit it, and
// saves it when `change` returns true (false leaves the file untouched).
// Returns false, with the errno in `*error` (may be null), when the file
// cannot be locked, read or written; `change`'s false is not a failure.
bool Update(const std::string& path, const std::function<bool(Registry&)>& change, int* error = nullptr);

// Replaces the file at `path` with `text` through a temporary file in the
// same folder (mode 0600), fsync and rename(), so readers see the old or the
// new content whole. False, with the errno in `*error` (may be null).
bool WriteFileAtomically(const std::string& path, const std::string& text, int* error = nullptr);

// Joins key parts with '/'.
std::string KeyPath(std::initializer_list<std::string> parts);

}  // namespace lumvara::registry
