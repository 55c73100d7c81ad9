#pragma once

#include <QStringList>
#include <QStringView>

namespace orv {

// Keeps a list of lines equal to the split of all text appended so far
// (a line ends at CR, LF or CR LF; a final break adds no empty line) while
// looking at each appended character once. The last entry may still be
// incomplete and grows with the next pieces.
class TLineSplitter {
public:
  explicit TLineSplitter(QStringList& lines);
  void Append(QStringView text);
  // The last entry has not seen its line break yet and may still grow.
  bool LastLineOpen() const { return lineOpen_; }

private:
  void AppendToOpenLine(QStringView text);
  void EndLine();

  QStringList& lines_;
  bool lineOpen_ = false;  // the last entry has not seen its line break
  bool afterCR_ = false;   // a CR ended the text; an LF next belongs to it
};

}  // namespace orv
