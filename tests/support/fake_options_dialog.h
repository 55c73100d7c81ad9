#pragma once

// An options dialog that keeps its controls' states in fields; the test
// plays the user in onShowModal.
#include "core/options_dialog.h"
#include "platform/exception.h"

#include <QMap>
#include <QStringList>

#include <functional>
#include <vector>

namespace orv::test {

class FakeOptionsDialog final : public TORVDashboardOptionsDialog {
public:
  struct CheckBox {
    QString name, text;
    bool checked = false;
  };

  ~FakeOptionsDialog() override {
    if (onDestroyed) onDestroyed();
  }

  void ShowModal() override {
    calls << QStringLiteral("ShowModal");
    if (onShowModal) onShowModal(*this);
    SaveRegistrySettings();  // as the dialog's close does
  }
  void SaveRegistrySettings() override { calls << QStringLiteral("SaveRegistrySettings"); }
  bool ValidateKitwrightPath() override {
    calls << QStringLiteral("ValidateKitwrightPath");
    return kitwrightPathValid;
  }
  void SetKitwrightPathInfo(const QString& text) override {
    calls << QStringLiteral("SetKitwrightPathInfo ") + text;
    kitwrightPathInfo = text;
  }
  void SetAllDelphiVersionsEnabled(bool enabled) override { allVersionsEnabled = enabled; }
  bool AllDelphiVersionsChecked() const override { return allVersionsChecked; }
  void SetAllDelphiVersionsChecked(bool checked) override { allVersionsChecked = checked; }
  std::optional<bool> IDECheckBoxChecked(const QString& name) const override {
    const qsizetype at = Find(name);
    return at < 0 ? std::nullopt : std::optional<bool>(boxes[at].checked);
  }
  bool SetIDECheckBoxChecked(const QString& name, bool checked) override {
    const qsizetype at = Find(name);
    if (at >= 0) boxes[at].checked = checked;
    return at >= 0;
  }
  void AddIDECheckBox(const QString& name, const QString& text, bool checked) override {
    boxes.push_back({name, text, checked});
  }

  std::function<void(FakeOptionsDialog&)> onShowModal;
  std::function<void()> onDestroyed;
  QStringList calls;
  bool kitwrightPathValid = false;
  QString kitwrightPathInfo;
  bool allVersionsEnabled = true;
  bool allVersionsChecked = true;
  std::vector<CheckBox> boxes;

private:
  // The box's index, -1 for none.
  qsizetype Find(const QString& name) const {
    for (size_t i = 0; i < boxes.size(); ++i)
      if (boxes[i].name.compare(name, Qt::CaseInsensitive) == 0) return qsizetype(i);
    return -1;
  }
};

// Hands out dialogs the test prepared; a plain fake one when none is left.
class FakeOptionsDialogs final : public TORVDashboardOptionsDialogs {
public:
  std::unique_ptr<TORVDashboardOptionsDialog> Create() override {
    ++created;
    if (!failure.isEmpty()) throw Exception(failure);
    if (prepared.empty()) return std::make_unique<FakeOptionsDialog>();
    auto dialog = std::move(prepared.front());
    prepared.erase(prepared.begin());
    return dialog;
  }
  std::vector<std::unique_ptr<FakeOptionsDialog>> prepared;
  int created = 0;
  // When set, making a dialog fails with this message, as reading a broken
  // settings file does.
  QString failure;
};

}  // namespace orv::test
