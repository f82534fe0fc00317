#include "range_dialog.h"

#include "fileeditor/hex_field.h"
#include "fileeditor/range_preview.h"
#include "widgets/hex_key_filter.h"

#include <QComboBox>
#include <QDialog>
#include <QFontDatabase>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>

namespace corvex::hexwin {

namespace {

constexpr int pxFieldWidth = 70;
constexpr int pxFieldHeight = 21;
constexpr int pxFieldTop = 23;
constexpr int pxLabelTop = 6;
constexpr int pxPanelHeight = 52;
constexpr int pxButtonInset = 8;
constexpr int pxPanelMinimumWidth = 420; // the preferences list and the button beside it
const QColor kPanelBlue(192, 224, 240);
const QColor kFieldGrey(224, 224, 224);

// A magnifying glass over a page: the preview button's glyph.
QIcon previewGlyph() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::darkGray, 1));
    painter.setBrush(Qt::white);
    painter.drawRect(QRectF(1.5, 1.5, 9, 12));
    painter.setPen(QPen(QColor(0, 0, 128), 2));
    painter.setBrush(QColor(192, 224, 240));
    painter.drawEllipse(QRectF(6, 5, 6, 6));
    painter.drawLine(QPointF(11.5, 10.5), QPointF(14.5, 14.5));
    return QIcon(pixmap);
}

void paint(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    palette.setColor(QPalette::Base, colour);
    palette.setColor(QPalette::Button, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

} // namespace

TOpenFavDialog::TOpenFavDialog(QWidget* owner) : QFileDialog(owner) {
    // The extension area goes into the dialog's own layout, which a native dialog has not.
    setOption(QFileDialog::DontUseNativeDialog);
    setFileMode(QFileDialog::ExistingFile);
    setAcceptMode(QFileDialog::AcceptOpen);

    PicturePanel = new QFrame(this);
    PicturePanel->setObjectName(QStringLiteral("PicturePanel"));
    PicturePanel->setFixedHeight(pxPanelHeight);
    PicturePanel->setMinimumWidth(pxPanelMinimumWidth);
    paint(PicturePanel, kPanelBlue);

    addLabel(QStringLiteral("Base:"), 8);
    BaseEdit = addEdit(8, QString());
    BaseEdit->setObjectName(QStringLiteral("BaseEdit"));
    BaseEdit->setReadOnly(true);
    BaseEdit->setFocusPolicy(Qt::NoFocus);
    paint(BaseEdit, palette().color(QPalette::Button));

    addLabel(QStringLiteral("Offset:"), 88);
    OffsetEdit = addEdit(88, m_offset);
    OffsetEdit->setObjectName(QStringLiteral("OffsetEdit"));
    // An offset or length past 4 GiB needs more than eight digits; the base stays 32-bit.
    OffsetEdit->setMaxLength(fileeditor::kAddressDigits);
    OffsetEdit->setToolTip(QStringLiteral("Dit is de hint text"));
    paint(OffsetEdit, kFieldGrey);

    addLabel(QStringLiteral("Length:"), 168);
    LengthEdit = addEdit(168, QString());
    LengthEdit->setObjectName(QStringLiteral("LengthEdit"));
    LengthEdit->setMaxLength(fileeditor::kAddressDigits);
    paint(LengthEdit, kFieldGrey);

    addLabel(QStringLiteral("Preferences:"), 248);
    ComboPref = new QComboBox(PicturePanel);
    ComboPref->setObjectName(QStringLiteral("ComboPref"));
    ComboPref->setEditable(true);
    ComboPref->setInsertPolicy(QComboBox::NoInsert);
    ComboPref->setGeometry(248, pxFieldTop, 130, pxFieldHeight);
    paint(ComboPref, kFieldGrey);

    PreviewButton = new QToolButton(PicturePanel);
    PreviewButton->setObjectName(QStringLiteral("PreviewButton"));
    PreviewButton->setIcon(previewGlyph());
    PreviewButton->setToolTip(QStringLiteral("Preview"));
    PreviewButton->resize(23, 22);
    PreviewButton->move(0, 8);
    connect(PreviewButton, &QToolButton::clicked, this, [this] { preview(); });

    // The file name field comes before the range fields in the tab order.
    QWidget::setTabOrder(OffsetEdit, LengthEdit);
    QWidget::setTabOrder(LengthEdit, ComboPref);
    QWidget::setTabOrder(ComboPref, PreviewButton);

    if (auto* grid = qobject_cast<QGridLayout*>(layout())) {
        grid->addWidget(PicturePanel, grid->rowCount(), 0, 1, grid->columnCount());
    }
}

QLabel* TOpenFavDialog::addLabel(const QString& text, int x) {
    auto* label = new QLabel(text, PicturePanel);
    label->move(x, pxLabelTop);
    return label;
}

QLineEdit* TOpenFavDialog::addEdit(int x, const QString& text) {
    auto* edit = new QLineEdit(text, PicturePanel);
    edit->setGeometry(x, pxFieldTop, pxFieldWidth, pxFieldHeight);
    edit->setMaxLength(8);
    edit->installEventFilter(this);
    return edit;
}

void TOpenFavDialog::setBaseAdr(const QString& text) {
    m_baseAdr = text;
    BaseEdit->setText(text.toUpper());
}

void TOpenFavDialog::setOffset(const QString& text) {
    m_offset = text;
    OffsetEdit->setText(text.toUpper());
}

void TOpenFavDialog::setLength(const QString& text) {
    m_length = text;
    LengthEdit->setText(text.toUpper());
}

bool TOpenFavDialog::execute() {
    PicturePanel->setVisible(!m_oldStyle);
    return exec() == QDialog::Accepted;
}

void TOpenFavDialog::showEvent(QShowEvent* event) {
    ComboPref->clear();
    ComboPref->addItems(m_preferenceNames);
    ComboPref->setCurrentIndex(
        m_preferenceIndex >= 0 && m_preferenceIndex < ComboPref->count() ? m_preferenceIndex : -1);
    QFileDialog::showEvent(event);
    PreviewButton->move(PicturePanel->width() - pxButtonInset - PreviewButton->width(), 8);
}

void TOpenFavDialog::resizeEvent(QResizeEvent* event) {
    QFileDialog::resizeEvent(event);
    PreviewButton->move(PicturePanel->width() - pxButtonInset - PreviewButton->width(), 8);
}

void TOpenFavDialog::done(int result) {
    if (!m_oldStyle) {
        m_offset = OffsetEdit->text();
        m_length = LengthEdit->text();
        m_baseAdr = BaseEdit->text();
        // An entry typed rather than chosen is kept as text; a chosen one is known by its index.
        const bool chosen =
            ComboPref->currentIndex() >= 0 &&
            ComboPref->currentText() == ComboPref->itemText(ComboPref->currentIndex());
        m_preferenceIndex = chosen ? ComboPref->currentIndex() : -1;
        m_preferenceText = chosen ? QString() : ComboPref->currentText();
    }
    QFileDialog::done(result);
}

bool TOpenFavDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || (watched != OffsetEdit && watched != LengthEdit)) {
        return QFileDialog::eventFilter(watched, event);
    }
    // Enter is swallowed too: it must not confirm a file from a range field.
    return widgets::typeIntoHexField(*static_cast<QLineEdit*>(watched),
                                     *static_cast<QKeyEvent*>(event));
}

QString TOpenFavDialog::selectedFile() const {
    const QStringList files = selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

QDialog* TOpenFavDialog::makePreview(QWidget* parent) {
    const auto shown = fileeditor::previewRange(
        selectedFile().toStdString(), BaseEdit->text().toStdString(),
        OffsetEdit->text().toStdString(), LengthEdit->text().toStdString());

    auto* form = new QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    form->setObjectName(QStringLiteral("PreviewForm"));
    form->setWindowTitle(QStringLiteral("Preview"));
    form->setFixedSize(379, 297);
    // Centred on the screen, not on the dialog: a window that was placed keeps its place when
    // shown.
    if (const QScreen* screen =
            parent != nullptr ? parent->screen() : QGuiApplication::primaryScreen()) {
        form->move(screen->availableGeometry().center() - form->rect().center());
    }

    auto* info = new QLabel(QString::fromStdString(shown.info), form);
    info->setObjectName(QStringLiteral("Info"));
    info->setGeometry(16, 16, 345, 33);
    info->setWordWrap(true);

    QFont valueFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    valueFont.setPointSize(10);
    for (std::size_t i = 0; i < fileeditor::kPreviewCaptions.size(); ++i) {
        const int y = 64 + 32 * static_cast<int>(i);
        auto* caption = new QLabel(
            QString::fromUtf8(fileeditor::kPreviewCaptions[i].data(),
                              static_cast<qsizetype>(fileeditor::kPreviewCaptions[i].size())),
            form);
        caption->setGeometry(32, y, 185, 25);
        caption->setFrameShape(QFrame::Panel);
        caption->setFrameShadow(QFrame::Raised);
        paint(caption, kFieldGrey);
        auto* value = new QLabel(QString::fromStdString(shown.values[i]), form);
        value->setObjectName(QStringLiteral("Value%1").arg(i));
        value->setGeometry(232, y, 113, 25);
        value->setFrameShape(QFrame::Panel);
        value->setFrameShadow(QFrame::Sunken);
        value->setFont(valueFont);
        paint(value, kPanelBlue);
    }
    auto* line = new QFrame(form);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(16, 240, 345, 2);
    auto* ok = new QPushButton(QStringLiteral("OK"), form);
    ok->setGeometry(160, 256, 75, 25);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, form, &QDialog::accept);
    return form;
}

void TOpenFavDialog::preview() {
    QDialog* form = makePreview(this);
    form->exec();
    delete form;
}

TSaveFavDialog::TSaveFavDialog(QWidget* owner) : TOpenFavDialog(owner) {
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
}

} // namespace corvex::hexwin
