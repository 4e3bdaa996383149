#include "registry.h"

#include <QCheckBox>
#include <QComboBox>
#include <QMetaType>
#include <QVariant>

namespace history {
namespace {

void putByte(QByteArray& out, uint8_t v) {
    out.append(static_cast<char>(v));
}
void putWord(QByteArray& out, uint16_t v) {
    putByte(out, v & 0xff);
    putByte(out, v >> 8);
}
void putDword(QByteArray& out, uint32_t v) {
    putWord(out, v & 0xffff);
    putWord(out, v >> 16);
}

void putLength(QByteArray& out, uint32_t length) {
    if (length < 0xff)
        return putByte(out, static_cast<uint8_t>(length));
    putByte(out, 0xff);
    if (length < 0xfffe)
        return putWord(out, static_cast<uint16_t>(length));
    putWord(out, 0xffff);
    putDword(out, length);
}

// Sequential little-endian reads that fail once the bytes run out.
class Cursor {
  public:
    explicit Cursor(const QByteArray& bytes) : bytes_(bytes) {}
    bool byte(uint8_t& v) {
        if (pos_ + 1 > bytes_.size())
            return false;
        v = static_cast<uint8_t>(bytes_[pos_++]);
        return true;
    }
    bool word(uint16_t& v) {
        uint8_t lo, hi;
        if (!byte(lo) || !byte(hi))
            return false;
        v = static_cast<uint16_t>(lo | hi << 8);
        return true;
    }
    bool dword(uint32_t& v) {
        uint16_t lo, hi;
        if (!word(lo) || !word(hi))
            return false;
        v = lo | static_cast<uint32_t>(hi) << 16;
        return true;
    }
    bool remaining(qsizetype n) const { return bytes_.size() - pos_ >= n; }
    bool atEnd() const { return pos_ == bytes_.size(); }

  private:
    const QByteArray& bytes_;
    qsizetype pos_ = 0;
};

// Length of one string; a 0xFFFE word instead of a length marks UTF-16 content.
bool readLength(Cursor& in, uint32_t& length, bool& wide) {
    uint8_t b;
    if (!in.byte(b))
        return false;
    if (b < 0xff)
        return length = b, true;
    uint16_t w;
    if (!in.word(w))
        return false;
    if (w == 0xfffe)
        return !wide && (wide = true, readLength(in, length, wide));
    if (w < 0xffff)
        return length = w, true;
    return in.dword(length);
}

bool readString(Cursor& in, QString& text) {
    uint32_t length = 0;
    bool wide = false;
    if (!readLength(in, length, wide) || !in.remaining(qsizetype(length) * (wide ? 2 : 1)))
        return false;
    text.clear();
    text.reserve(length);
    for (uint32_t i = 0; i < length; ++i) {
        uint16_t unit = 0;
        uint8_t b = 0;
        if (wide ? !in.word(unit) : !in.byte(b))
            return false;
        text.append(QChar(wide ? unit : b));
    }
    return true;
}

} // namespace

QByteArray serializeStringList(const QStringList& list) {
    QByteArray out;
    const auto count = static_cast<uint32_t>(list.size());
    if (count < 0xffff) {
        putWord(out, static_cast<uint16_t>(count));
    } else {
        putWord(out, 0xffff);
        putDword(out, count);
    }
    for (const QString& text : list) {
        putByte(out, 0xff);
        putWord(out, 0xfffe);
        putLength(out, static_cast<uint32_t>(text.size()));
        for (QChar c : text)
            putWord(out, c.unicode());
    }
    return out;
}

std::optional<QStringList> parseStringList(const QByteArray& bytes) {
    Cursor in(bytes);
    uint16_t shortCount;
    uint32_t count;
    if (!in.word(shortCount))
        return std::nullopt;
    count = shortCount;
    if (shortCount == 0xffff && !in.dword(count))
        return std::nullopt;
    QStringList list;
    for (uint32_t i = 0; i < count; ++i) {
        QString text;
        if (!readString(in, text))
            return std::nullopt;
        list.append(text);
    }
    if (!in.atEnd())
        return std::nullopt;
    return list;
}

} // namespace history

CRegistry::CRegistry() : settings_(history::organisation, history::application) {}

void CRegistry::writeNumber(const QString& name, uint32_t value) {
    settings_.setValue(name, QVariant::fromValue(value));
}

bool CRegistry::readNumber(const QString& name, uint32_t& value) {
    const QVariant stored = settings_.value(name);
    if (!stored.isValid() || stored.typeId() == QMetaType::QByteArray)
        return false;
    bool ok = false;
    const uint number = stored.toUInt(&ok);
    if (ok)
        value = number;
    return ok;
}

void CRegistry::writeStringList(const QString& name, const QStringList& list) {
    settings_.setValue(name, history::serializeStringList(list));
}

bool CRegistry::readStringList(const QString& name, QStringList& list) {
    const QVariant stored = settings_.value(name);
    if (stored.typeId() != QMetaType::QByteArray)
        return false;
    const QByteArray bytes = stored.toByteArray();
    if (bytes.size() > history::maxListBytes)
        return false;
    auto parsed = history::parseStringList(bytes);
    if (!parsed)
        return false;
    list = *parsed;
    return true;
}

void CRegistryReader::visit(const std::u16string& key, QWidget* control) {
    const QString name = QString::fromStdU16String(key);
    if (auto* box = qobject_cast<QCheckBox*>(control)) {
        uint32_t state = 0;
        if (CRegistry().readNumber(name, state))
            box->setChecked(state != 0);
    } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
        QStringList entries;
        CRegistry().readStringList(name, entries);
        combo->clear();
        combo->addItems(entries);
        if (!entries.isEmpty())
            combo->setCurrentIndex(0);
    }
}

void CRegistryWriter::visit(const std::u16string& key, QWidget* control) {
    const QString name = QString::fromStdU16String(key);
    if (auto* box = qobject_cast<QCheckBox*>(control)) {
        CRegistry().writeNumber(name, box->isChecked() ? 1 : 0);
    } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
        // Taken first: removing the entry the edit shows would replace the edit text.
        const QString text = combo->currentText();
        const int existing = combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (existing >= 0)
            combo->removeItem(existing);
        combo->insertItem(0, text);
        combo->setCurrentIndex(0);
        if (combo->count() > history::maxEntries)
            combo->removeItem(combo->count() - 1);
        QStringList entries;
        for (int i = 0; i < combo->count(); ++i)
            entries.append(combo->itemText(i));
        CRegistry().writeStringList(name, entries);
    }
}
