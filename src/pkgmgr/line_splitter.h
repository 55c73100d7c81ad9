#pragma once

#include <QStringList>
#include <QStringView>

#include <memory>

namespace orv {

// Splits text that arrives in pieces into lines (a line ends at CR, LF or
// CR LF; a final break adds no empty line), looking at each appended
// character once.
class TLineSplitter {
public:
  // Receives the lines as they are found: the text of the open line in
  // parts, then its end.
  class TSink {
  public:
    virtual ~TSink() = default;
    virtual void AppendToLine(QStringView text) = 0;
    virtual void EndLine() = 0;
  };

  explicit TLineSplitter(TSink& sink);
  // Keeps a list of lines equal to the split of all text appended so far;
  // its last entry may still be incomplete and grows with the next pieces.
  explicit TLineSplitter(QStringList& lines);
  ~TLineSplitter();
  TLineSplitter(const TLineSplitter&) = delete;
  TLineSplitter& operator=(const TLineSplitter&) = delete;

  void Append(QStringView text);
  // The last line has not seen its line break yet and may still grow.
  bool LastLineOpen() const { return lineOpen_; }

private:
  class TListSink;

  std::unique_ptr<TSink> ownSink_;
  TSink& sink_;
  bool lineOpen_ = false;  // text of the last line arrived, its break not yet
  bool afterCR_ = false;   // a CR ended the text; an LF next belongs to it
};

}  // namespace orv
