#pragma once

#include <QObject>

#include <functional>

class QKeyEvent;
class QLineEdit;

namespace corvex::widgets {

/// A key typed into a field that takes hexadecimal digits only: a digit goes in upper-cased,
/// editing, movement and Ctrl keys pass to the field, other characters and Enter are swallowed.
/// True when the key was handled here and the field must not see it.
bool typeIntoHexField(QLineEdit& field, const QKeyEvent& key);

// The key filter of a hexadecimal entry field, installed on it and owned by it: keys go through
// typeIntoHexField, and Enter also runs the field's action (its button), when it has one.
class HexKeyFilter : public QObject {
public:
    HexKeyFilter(QLineEdit* field, std::function<void()> onEnter);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void()> m_onEnter;
};

} // namespace corvex::widgets
