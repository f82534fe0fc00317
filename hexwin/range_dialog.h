#pragma once

#include <QFileDialog>
#include <QStringList>

class QComboBox;
class QDialog;
class QFrame;
class QLabel;
class QLineEdit;
class QToolButton;

namespace corvex::hexwin {

// The open file dialog with an area below the standard controls where the user gives a base
// address, an offset and a length (hexadecimal) for the file and picks a preference; a button
// there previews the resulting address range. The owner sets the fields before execute() and
// reads them back after it: they hold what the fields held when the dialog closed.
class TOpenFavDialog : public QFileDialog {
    Q_OBJECT

public:
    explicit TOpenFavDialog(QWidget* owner);

    [[nodiscard]] QString baseAdr() const { return m_baseAdr; }
    [[nodiscard]] QString offset() const { return m_offset; }
    [[nodiscard]] QString length() const { return m_length; }
    void setBaseAdr(const QString& text);
    void setOffset(const QString& text);
    void setLength(const QString& text);

    /// Names offered in "Preferences:"; the owner fills them before execute().
    QStringList& preferenceNames() { return m_preferenceNames; }
    [[nodiscard]] int preferenceIndex() const { return m_preferenceIndex; }
    void setPreferenceIndex(int index) { m_preferenceIndex = index; }
    /// The typed text of "Preferences:" when no entry was chosen, else empty.
    [[nodiscard]] QString preferenceText() const { return m_preferenceText; }

    /// Without the extension area: the plain file dialog, the properties left as written.
    void setOldStyle(bool oldStyle) { m_oldStyle = oldStyle; }

    /// Runs the dialog; whether the user confirmed a file.
    bool execute();

    /// Closes the dialog, keeping the fields' texts as the results.
    void done(int result) override;

    /// Builds the range preview window for the file selected now; the caller shows it.
    [[nodiscard]] QDialog* makePreview(QWidget* parent);

    // The extension area's controls, named as the form names them.
    QFrame* PicturePanel = nullptr;
    QLineEdit* BaseEdit = nullptr;
    QLineEdit* OffsetEdit = nullptr;
    QLineEdit* LengthEdit = nullptr;
    QComboBox* ComboPref = nullptr;
    QToolButton* PreviewButton = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    /// Shows the preview window modally.
    virtual void preview();

private:
    QLabel* addLabel(const QString& text, int x);
    QLineEdit* addEdit(int x, const QString& text);
    [[nodiscard]] QString selectedFile() const;

    QStringList m_preferenceNames;
    int m_preferenceIndex = 0;
    QString m_preferenceText;
    QString m_baseAdr;
    QString m_offset = QStringLiteral("0");
    QString m_length;
    bool m_oldStyle = false;
};

// The same dialog as a save dialog: it asks before overwriting a file.
class TSaveFavDialog : public TOpenFavDialog {
    Q_OBJECT

public:
    explicit TSaveFavDialog(QWidget* owner);
};

} // namespace corvex::hexwin
