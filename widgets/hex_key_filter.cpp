#include "widgets/hex_key_filter.h"

#include "fileeditor/hex_field.h"

#include <QKeyEvent>
#include <QLineEdit>

namespace corvex::widgets {

bool typeIntoHexField(QLineEdit& field, const QKeyEvent& key) {
    if (key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter) {
        return true;
    }
    const QString text = key.text();
    if (text.isEmpty() || key.key() == Qt::Key_Backspace || key.key() == Qt::Key_Delete ||
        (key.modifiers() & Qt::ControlModifier)) {
        return false;
    }
    const auto passed = text.size() == 1 && text.at(0).unicode() < 128
                            ? fileeditor::filterHexKey(static_cast<char>(text.at(0).unicode()))
                            : std::nullopt;
    if (passed) {
        field.insert(QString(QChar(*passed)));
    }
    return true;
}

HexKeyFilter::HexKeyFilter(QLineEdit* field, std::function<void()> onEnter)
    : QObject(field), m_onEnter(std::move(onEnter)) {
    field->installEventFilter(this);
}

bool HexKeyFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) {
        return false;
    }
    const auto* key = static_cast<QKeyEvent*>(event);
    if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && m_onEnter) {
        m_onEnter();
    }
    return typeIntoHexField(*static_cast<QLineEdit*>(watched), *key);
}

} // namespace corvex::widgets
