#pragma once
// The bar beside the toolbar that sets how close a match must be: "Matches:", a slider from
// "Many" (0) to "Few" (100), a box with the slider's value that also takes a typed one, and the number of matches
// at that threshold. Disabled while no document is active; it then shows 70 and no count.
#include <QWidget>

class QLabel;
class QLineEdit;
class QSlider;

class ThresholdBar : public QWidget {
  Q_OBJECT
public:
  static constexpr int kDefaultPosition = 70;

  explicit ThresholdBar(QWidget* parent = nullptr);

  // Moves the slider without reporting it as the user's choice.
  void SetPosition(int position);
  int Position() const;
  // "(%d)", or empty for a negative count.
  void SetCount(int count);
  void ClearCount();
  QString CountText() const;
  QString ValueText() const;

  QSlider* Slider() const { return slider_; }

signals:
  // The user moved the slider to a new threshold.
  void ThresholdChosen(int threshold);

private:
  void ShowValue(int value);

  QSlider* slider_;
  QLineEdit* value_;
  QLabel* count_;
  bool settingPosition_ = false;
};
