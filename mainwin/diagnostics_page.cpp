#include "diagnostics_page.h"

#include "widgets/click_label.h"
#include "widgets/qt_text.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace corvex::mainwin {

using widgets::std8;

namespace {

constexpr int kWordWidth = 8;
constexpr int kByteWidth = 2;
constexpr int kIoAddressWidth = 4;
constexpr int kPxCharWidth = 9;
constexpr int kPxFieldPadding = 14;
constexpr int kPxBoxSize = 20;
constexpr int kPxSmallButton = 26;

QString colourName(Rgb colour) {
    return QColor(colour.red, colour.green, colour.blue).name();
}

QGroupBox* group(const QString& title, QWidget* parent) {
    auto* box = new QGroupBox(title, parent);
    return box;
}

// The group's controls sit on a plain widget that fills its own background: a field that
// changes then repaints from there, not the group's frame and title and the page behind them,
// which a repeated read would otherwise redraw four times a second.
QGridLayout* grid(QGroupBox* owner) {
    auto* outer = new QVBoxLayout(owner);
    outer->setContentsMargins(2, 0, 2, 2);
    auto* inner = new QWidget(owner);
    inner->setAutoFillBackground(true);
    outer->addWidget(inner);
    auto* layout = new QGridLayout(inner);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->setHorizontalSpacing(6);
    layout->setVerticalSpacing(3);
    return layout;
}

} // namespace

DiagnosticsPage::DiagnosticsPage(DiagnosticsModel& model, GuardFeedback& feedback, Hooks hooks,
                                 QWidget* parent)
    : QWidget(parent), m_model(model), m_feedback(feedback), m_hooks(std::move(hooks)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);

    auto* heading = new QLabel(QStringLiteral("Corvex - Diagnostics"), this);
    heading->setObjectName(QStringLiteral("heading"));
    heading->setStyleSheet(QStringLiteral(
        "QLabel { background: #000080; color: white; font-weight: bold; padding: 2px 6px; }"));
    layout->addWidget(heading);

    auto* columns = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    left->addWidget(buildWordGroup());
    left->addWidget(buildByteGroup());
    left->addWidget(buildOptionsGroup());
    left->addStretch(1);
    auto* right = new QVBoxLayout;
    right->addWidget(buildPortGroup());
    right->addWidget(buildDataPortGroup());
    right->addWidget(buildOutputGroup());
    right->addWidget(buildInputGroup());
    right->addStretch(1);
    columns->addLayout(left, 3);
    columns->addLayout(right, 2);
    layout->addLayout(columns, 1);

    m_repeatTimer.setSingleShot(true);
    m_repeatTimer.setInterval(kRepeatMs);
    connect(&m_repeatTimer, &QTimer::timeout, this, &DiagnosticsPage::repeatTick);
    refresh();
}

// ---- building ------------------------------------------------------------------------------

QLineEdit* DiagnosticsPage::hexField(const QString& name, const QString& text, int width) {
    auto* field = new QLineEdit(text, this);
    field->setObjectName(name);
    field->setMaxLength(width);
    field->setFixedWidth(width * kPxCharWidth + kPxFieldPadding);
    // Only hexadecimal digits stay, upper-cased, wherever in the text they were typed.
    connect(field, &QLineEdit::textEdited, this, [field, width](const QString& typed) {
        const QString kept =
            QString::fromStdString(hexFieldText(std8(typed), static_cast<std::size_t>(width)));
        if (kept != typed) {
            const int cursor = std::min<int>(field->cursorPosition(), kept.size());
            field->setText(kept);
            field->setCursorPosition(cursor);
        }
    });
    return field;
}

QPushButton* DiagnosticsPage::button(const QString& name, const QString& caption,
                                     std::function<void()> run) {
    auto* push = new QPushButton(caption, this);
    push->setObjectName(name);
    push->setAutoDefault(false);
    if (caption.size() <= 2) {
        push->setFixedWidth(kPxSmallButton);
    }
    connect(push, &QPushButton::clicked, this, std::move(run));
    return push;
}

QLabel* DiagnosticsPage::stateBox(const QString& name, const QString& text) {
    auto* box = new QLabel(text, this);
    box->setObjectName(name);
    box->setAlignment(Qt::AlignCenter);
    box->setFixedSize(kPxBoxSize, kPxBoxSize);
    paintBox(box, kLightGrey);
    return box;
}

void DiagnosticsPage::paintBox(QLabel* box, Rgb colour) {
    box->setStyleSheet(QStringLiteral("QLabel { background: %1; border: 1px solid #808080; }")
                           .arg(colourName(colour)));
    box->setProperty("colour", colourName(colour));
}

QWidget* DiagnosticsPage::buildWordGroup() {
    QGroupBox* box = group(QStringLiteral("Transmit/Receive Data (32-bit)"), this);
    QGridLayout* layout = grid(box);
    layout->addWidget(new QLabel(QStringLiteral("Address (32-bit)"), box), 0, 0);
    layout->addWidget(new QLabel(QStringLiteral("Data (32-bit)"), box), 0, 1);
    m_readAddress = hexField(QStringLiteral("readAddress"), QStringLiteral("80000000"), kWordWidth);
    m_readData = hexField(QStringLiteral("readData"), QStringLiteral("12345678"), kWordWidth);
    m_writeAddress =
        hexField(QStringLiteral("writeAddress"), QStringLiteral("80000000"), kWordWidth);
    m_writeData = hexField(QStringLiteral("writeData"), QStringLiteral("12345678"), kWordWidth);
    m_resultFields.push_back(m_readData);
    QPushButton* readButton =
        button(QStringLiteral("read"), QStringLiteral("Read"), [this] { read(); });
    QPushButton* writeButton =
        button(QStringLiteral("write"), QStringLiteral("Write"), [this] { write(); });
    m_repeat = new QPushButton(QStringLiteral("Repeat"), box);
    m_repeat->setObjectName(QStringLiteral("repeat"));
    m_repeat->setCheckable(true);
    m_repeat->setAutoDefault(false);
    m_repeat->setToolTip(QStringLiteral("While down, \"Read\" runs every 250 ms."));
    connect(m_repeat, &QPushButton::toggled, this, [this](bool down) {
        if (down) {
            m_repeatTimer.start();
        } else {
            m_repeatTimer.stop();
        }
    });
    for (QLineEdit* field : {m_readAddress, m_readData}) {
        connect(field, &QLineEdit::returnPressed, readButton, &QPushButton::click);
    }
    for (QLineEdit* field : {m_writeAddress, m_writeData}) {
        connect(field, &QLineEdit::returnPressed, writeButton, &QPushButton::click);
    }
    layout->addWidget(m_readAddress, 1, 0);
    layout->addWidget(m_readData, 1, 1);
    layout->addWidget(readButton, 1, 2);
    layout->addWidget(m_repeat, 1, 3);
    layout->addWidget(m_writeAddress, 2, 0);
    layout->addWidget(m_writeData, 2, 1);
    layout->addWidget(writeButton, 2, 2);
    m_swap = new QCheckBox(QStringLiteral("Swap data bytes (read)"), box);
    m_swap->setObjectName(QStringLiteral("swap"));
    connect(m_swap, &QCheckBox::toggled, this,
            [this](bool on) { m_feedback.setSwapDataBytes(on); });
    layout->addWidget(m_swap, 3, 0, 1, 2);
    m_blockMode = new QLabel(QStringLiteral("Block mode"), box);
    m_blockMode->setObjectName(QStringLiteral("blockMode"));
    m_blockMode->setStyleSheet(QStringLiteral("QLabel { color: #C00000; font-weight: bold; }"));
    m_blockMode->setVisible(false);
    layout->addWidget(m_blockMode, 3, 2, 1, 2);
    layout->setColumnStretch(4, 1);
    return box;
}

QWidget* DiagnosticsPage::buildByteGroup() {
    QGroupBox* box = group(QStringLiteral("Transmit/Receive byte (8-bit)"), this);
    QGridLayout* layout = grid(box);
    m_byteRead = hexField(QStringLiteral("byteRead"), QStringLiteral("FF"), kByteWidth);
    m_byteWrite = hexField(QStringLiteral("byteWrite"), QStringLiteral("FF"), kByteWidth);
    m_resultFields.push_back(m_byteRead);
    QPushButton* readByte = button(QStringLiteral("readByte"), QStringLiteral("Read Byte"), [this] {
        m_model.run(DiagControl::ReadByte, {}, {}, m_byteRead);
    });
    QPushButton* writeByte =
        button(QStringLiteral("writeByte"), QStringLiteral("Write Byte"),
               [this] { m_model.run(DiagControl::WriteByte, {}, std8(m_byteWrite->text()), {}); });
    QPushButton* writeAck = button(QStringLiteral("writeAck"), QStringLiteral("Write Ack"),
                                   [this] { m_model.run(DiagControl::WriteAck, {}, {}, nullptr); });
    connect(m_byteRead, &QLineEdit::returnPressed, readByte, &QPushButton::click);
    connect(m_byteWrite, &QLineEdit::returnPressed, writeByte, &QPushButton::click);
    layout->addWidget(new QLabel(QStringLiteral("Read:"), box), 0, 0);
    layout->addWidget(m_byteRead, 0, 1);
    layout->addWidget(readByte, 0, 2);
    layout->addWidget(writeAck, 0, 3);
    layout->addWidget(new QLabel(QStringLiteral("Write:"), box), 1, 0);
    layout->addWidget(m_byteWrite, 1, 1);
    layout->addWidget(writeByte, 1, 2);
    layout->setColumnStretch(4, 1);
    return box;
}

QWidget* DiagnosticsPage::buildOptionsGroup() {
    QGroupBox* box = group(QStringLiteral("Velmar-Corvex Options"), this);
    QGridLayout* layout = grid(box);
    m_loopback = new QCheckBox(QStringLiteral("Enable internal loopback"), box);
    m_loopback->setObjectName(QStringLiteral("loopback"));
    connect(m_loopback, &QCheckBox::toggled, this, [this](bool on) {
        if (m_hooks.loopbackChanged) {
            m_hooks.loopbackChanged(on);
        }
        m_model.setLoopback(on);
    });
    layout->addWidget(m_loopback, 0, 0, 1, 4);

    auto* tests = new QHBoxLayout;
    tests->setSpacing(4);
    const auto testButton = [&](const QString& name, const QString& caption, LoopbackTest test) {
        tests->addWidget(button(name, caption, [this, test] { runLoopbackTest(test, true); }));
    };
    testButton(QStringLiteral("ack"), QStringLiteral("Ack"), LoopbackTest::Ack);
    testButton(QStringLiteral("data"), QStringLiteral("Data"), LoopbackTest::Data);
    testButton(QStringLiteral("flow"), QStringLiteral("Flow"), LoopbackTest::Flow);
    m_gauge = new QProgressBar(box);
    m_gauge->setObjectName(QStringLiteral("gauge"));
    m_gauge->setRange(0, 100);
    m_gauge->setValue(0);
    m_gauge->setTextVisible(false);
    m_gauge->setFixedHeight(16);
    m_gauge->setStyleSheet(QStringLiteral("QProgressBar { background: %1; border: 1px solid "
                                          "#808080; } QProgressBar::chunk { background: %2; }")
                               .arg(colourName(kLightGrey), colourName(kLightGreen)));
    tests->addWidget(m_gauge, 1);
    layout->addLayout(tests, 1, 0, 1, 4);

    m_exchangeValue = hexField(QStringLiteral("exchangeValue"), QStringLiteral("FF"), kByteWidth);
    QPushButton* start = button(QStringLiteral("start"), QStringLiteral("START"), [this] {
        m_model.run(DiagControl::Start, {}, std8(m_exchangeValue->text()), nullptr);
    });
    QPushButton* stop = button(QStringLiteral("stop"), QStringLiteral("STOP"), [this] {
        if (m_hooks.breakJob) {
            m_hooks.breakJob();
        }
    });
    connect(m_exchangeValue, &QLineEdit::returnPressed, start, &QPushButton::click);
    auto* exchange = new QHBoxLayout;
    exchange->setSpacing(4);
    exchange->addWidget(m_exchangeValue);
    exchange->addWidget(start);
    exchange->addWidget(stop);
    exchange->addStretch(1);
    layout->addLayout(exchange, 2, 0, 1, 4);

    auto* factory = new widgets::ClickLabel(
        QStringLiteral("Factory hardware check"),
        [this] {
            const bool shown = !m_factoryControls.front()->isVisibleTo(this);
            for (QWidget* control : m_factoryControls) {
                control->setVisible(shown);
            }
            m_feedback.setDebugFieldsShown(shown);
        },
        box);
    factory->setObjectName(QStringLiteral("factoryCheck"));
    m_factoryAddress =
        hexField(QStringLiteral("factoryAddress"), QStringLiteral("378"), kIoAddressWidth);
    m_factoryValue = hexField(QStringLiteral("factoryValue"), QStringLiteral("FF"), kByteWidth);
    QPushButton* factoryRead = button(QStringLiteral("factoryRead"), QStringLiteral("R"), [this] {
        if (const auto value = m_model.factoryRead(std8(m_factoryAddress->text()))) {
            m_factoryValue->setText(
                QString::fromStdString(GuardFeedback::diagValueText(*value, kByteWidth, false)));
        }
    });
    QPushButton* factoryWrite = button(QStringLiteral("factoryWrite"), QStringLiteral("W"), [this] {
        m_model.factoryWrite(std8(m_factoryAddress->text()), std8(m_factoryValue->text()));
    });
    m_factoryControls = {m_factoryAddress, m_factoryValue, factoryRead, factoryWrite};
    auto* factoryRow = new QHBoxLayout;
    factoryRow->addWidget(factory);
    for (QWidget* control : m_factoryControls) {
        control->setVisible(false);
        factoryRow->addWidget(control);
    }
    factoryRow->addStretch(1);
    layout->addLayout(factoryRow, 3, 0, 1, 4);
    return box;
}

QWidget* DiagnosticsPage::buildPortGroup() {
    QGroupBox* box = group(QStringLiteral("Parallel Communication port"), this);
    QGridLayout* layout = grid(box);
    m_portList = new QComboBox(box);
    m_portList->setObjectName(QStringLiteral("portList"));
    for (const PortEntry& entry : kPortEntries) {
        m_portList->addItem(QString::fromLatin1(entry.caption.data(),
                                                static_cast<qsizetype>(entry.caption.size())));
    }
    connect(m_portList, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_model.choosePort(static_cast<std::size_t>(std::max(index, 0)));
    });
    QPushButton* reset =
        button(QStringLiteral("resetInterface"), QStringLiteral("Reset Interface"), [this] {
            if (m_hooks.resetInterface) {
                m_hooks.resetInterface();
            }
            for (const OutputLine& line : m_outputs) {
                line.box->setText(QLatin1String(line.initial));
            }
        });
    layout->addWidget(m_portList, 0, 0);
    layout->addWidget(reset, 0, 1);
    return box;
}

QWidget* DiagnosticsPage::buildDataPortGroup() {
    QGroupBox* box = group(QStringLiteral("Input/Output"), this);
    QGridLayout* layout = grid(box);
    m_dataPortRead = hexField(QStringLiteral("dataPortRead"), QStringLiteral("FF"), kByteWidth);
    m_dataPortWrite = hexField(QStringLiteral("dataPortWrite"), QStringLiteral("FF"), kByteWidth);
    m_resultFields.push_back(m_dataPortRead);
    QPushButton* readData = button(QStringLiteral("dataPortR"), QStringLiteral("R"), [this] {
        m_model.run(DiagControl::DataPortRead, {}, {}, m_dataPortRead);
    });
    QPushButton* writeData = button(QStringLiteral("dataPortW"), QStringLiteral("W"), [this] {
        m_model.run(DiagControl::DataPortWrite, {}, std8(m_dataPortWrite->text()), nullptr);
    });
    connect(m_dataPortRead, &QLineEdit::returnPressed, readData, &QPushButton::click);
    connect(m_dataPortWrite, &QLineEdit::returnPressed, writeData, &QPushButton::click);
    layout->addWidget(new QLabel(QStringLiteral("  Datapoort (2..9)"), box), 0, 0);
    layout->addWidget(m_dataPortRead, 0, 1);
    layout->addWidget(readData, 0, 2);
    layout->addWidget(m_dataPortWrite, 0, 3);
    layout->addWidget(writeData, 0, 4);
    layout->setColumnStretch(0, 1);
    return box;
}

QWidget* DiagnosticsPage::buildOutputGroup() {
    QGroupBox* box = group(QStringLiteral("Output"), this);
    QGridLayout* layout = grid(box);
    struct Row {
        const char* caption;
        const char* name;
        DiagControl high;
        DiagControl low;
        const char* initial;
    };
    constexpr std::array<Row, 4> rows{{
        {"  Read (1)", "readLine", DiagControl::ReadLineHigh, DiagControl::ReadLineLow, "0"},
        {"  TxAck (14)", "txAckLine", DiagControl::TxAckHigh, DiagControl::TxAckLow, "0"},
        {"  Write (16)", "writeLine", DiagControl::WriteLineHigh, DiagControl::WriteLineLow, "0"},
        {"  !Reset (17)", "resetLine", DiagControl::ResetHigh, DiagControl::ResetLow, "1"},
    }};
    int row = 0;
    for (const Row& line : rows) {
        const QString name = QLatin1String(line.name);
        QLabel* state = stateBox(name + QStringLiteral("Box"), QLatin1String(line.initial));
        m_outputs.push_back({state, line.high, line.low, line.initial});
        layout->addWidget(new QLabel(QLatin1String(line.caption), box), row, 0);
        layout->addWidget(state, row, 1);
        const DiagControl low = line.low;
        const DiagControl high = line.high;
        layout->addWidget(button(name + QStringLiteral("0"), QStringLiteral("0"),
                                 [this, low, state] { m_model.run(low, {}, {}, state); }),
                          row, 2);
        layout->addWidget(button(name + QStringLiteral("1"), QStringLiteral("1"),
                                 [this, high, state] { m_model.run(high, {}, {}, state); }),
                          row, 3);
        ++row;
    }
    layout->setColumnStretch(0, 1);
    return box;
}

QWidget* DiagnosticsPage::buildInputGroup() {
    QGroupBox* box = group(QStringLiteral("Input"), this);
    QGridLayout* layout = grid(box);
    m_dataValidBox = stateBox(QStringLiteral("dataValidBox"), QStringLiteral("0"));
    m_rxAckBox = stateBox(QStringLiteral("rxAckBox"), QStringLiteral("0"));
    const auto row = [&](int at, const QString& caption, const QString& name, QLabel* state,
                         DiagControl control) {
        layout->addWidget(new QLabel(caption, box), at, 0);
        layout->addWidget(state, at, 1);
        layout->addWidget(button(name, QStringLiteral("R"),
                                 [this, state, control] {
                                     paintBox(state, kLightGrey);
                                     m_model.run(control, {}, {}, state);
                                 }),
                          at, 2);
    };
    row(0, QStringLiteral("  DataValid (15)"), QStringLiteral("dataValidR"), m_dataValidBox,
        DiagControl::DataValidRead);
    row(1, QStringLiteral("  RxAck (13)"), QStringLiteral("rxAckR"), m_rxAckBox,
        DiagControl::RxAckRead);
    layout->setColumnStretch(0, 1);
    return box;
}

// ---- behaviour -----------------------------------------------------------------------------

void DiagnosticsPage::read() {
    const DiagnosticsModel::Result result =
        m_feedback.blockMode()
            ? m_model.blockRead(std8(m_readAddress->text()), std8(m_readData->text()))
            : m_model.run(DiagControl::Read, std8(m_readAddress->text()), {}, m_readData);
    // A repeat would only say the same again: a wrong field or a cancelled dialog ends it.
    if (result == DiagnosticsModel::Result::Dropped ||
        result == DiagnosticsModel::Result::Cancelled ||
        result == DiagnosticsModel::Result::Rejected) {
        m_repeat->setChecked(false);
    }
}

void DiagnosticsPage::write() {
    if (m_feedback.blockMode()) {
        m_model.blockWrite(std8(m_writeAddress->text()), std8(m_writeData->text()));
        return;
    }
    m_model.run(DiagControl::Write, std8(m_writeAddress->text()), std8(m_writeData->text()),
                nullptr);
}

void DiagnosticsPage::repeatTick() {
    // The timer is single-shot: a read that takes longer than the interval (a box, a dialog)
    // is never overlapped by the next one.
    read();
    if (m_repeat->isChecked()) {
        m_repeatTimer.start();
    }
}

bool DiagnosticsPage::repeating() const {
    return m_repeat->isChecked();
}

bool DiagnosticsPage::showResult(const void* target, const std::string& text) {
    if (target == nullptr) {
        return false;
    }
    const QString shown = QString::fromStdString(text);
    for (QLineEdit* field : m_resultFields) {
        if (static_cast<const void*>(field) == target) {
            field->setText(shown);
            return true;
        }
    }
    for (const OutputLine& line : m_outputs) {
        if (static_cast<const void*>(line.box) == target) {
            line.box->setText(shown);
            return true;
        }
    }
    for (QLabel* box : {m_dataValidBox, m_rxAckBox}) {
        if (static_cast<const void*>(box) == target) {
            box->setText(shown);
            return true;
        }
    }
    return false;
}

void DiagnosticsPage::refresh() {
    m_gauge->setValue(m_feedback.loopbackGauge());
    m_blockMode->setVisible(m_feedback.blockMode());
    m_loopback->setEnabled(m_feedback.loopbackControlsEnabled());
}

void DiagnosticsPage::pollLines() {
    if (!m_watching || !m_hooks.readStatus) {
        return;
    }
    m_watch.poll(m_hooks.readStatus());
    const auto show = [this](QLabel* box, const LineWatch::Line& line) {
        const QString text = line.set ? QStringLiteral("1") : QStringLiteral("0");
        if (box->text() != text) {
            box->setText(text);
        }
        const Rgb colour = line.highlighted ? kLightGreen : kLightGrey;
        if (box->property("colour").toString() != colourName(colour)) {
            paintBox(box, colour);
        }
    };
    show(m_dataValidBox, m_watch.dataValid());
    show(m_rxAckBox, m_watch.rxAck());
}

void DiagnosticsPage::setShowing(bool showing) {
    if (showing == m_watching) {
        return;
    }
    m_watching = showing;
    if (showing) {
        m_watch.restart();
    } else {
        m_repeat->setChecked(false);
    }
}

void DiagnosticsPage::setLoopbackChecked(bool on) {
    m_loopback->setChecked(on);
}

void DiagnosticsPage::runLoopbackTest(LoopbackTest test, bool fromPage) {
    m_model.loopbackTest(test, m_loopback->isChecked(), fromPage, m_gauge);
}

} // namespace corvex::mainwin
