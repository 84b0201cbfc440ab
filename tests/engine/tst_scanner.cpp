#include "engine/cardscanner.h"
#include "engine/valuedecoding.h"

#include <QTest>

namespace {

std::vector<ContactFields> scanLines(const QStringList &lines, QChar delimiter = u',')
{
    std::vector<ContactFields> result;
    const CardList cards = scanCards(TextLines::fromStringList(lines), delimiter);
    for (qsizetype i = 0; i < cards.size(); ++i)
        result.push_back(cards.fields(i));
    return result;
}

QString field(const ContactFields &card, ContactColumn column)
{
    return card[size_t(column)];
}

/* What one column holds in each card that the lines give. */
QStringList columnOfEachCard(const QStringList &lines, ContactColumn column)
{
    QStringList got;
    for (const ContactFields &card : scanLines(lines))
        got.append(field(card, column));
    return got;
}

/* The one card made of BEGIN, the given lines, END; the empty line keeps END out of soft line breaks. */
ContactFields oneCard(const QStringList &body, QChar delimiter = u',')
{
    const auto cards = scanLines(
        QStringList{u"BEGIN:VCARD"_qs} + body + QStringList{QString(), u"END:VCARD"_qs, QString()}, delimiter);
    if (cards.size() != 1)
        qFatal("expected exactly one card");
    return cards.front();
}

} // namespace

class TestScanner : public QObject
{
    Q_OBJECT

private slots:
    void storedValues_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("delimiter");
        QTest::addColumn<QString>("expected");
        const int fn = int(ContactColumn::FormattedName), n = int(ContactColumn::StructuredName);
        const int org = int(ContactColumn::Organization), adr = int(ContactColumn::Address);
        const int note = int(ContactColumn::Note), url = int(ContactColumn::Url);
        const QString comma = u","_qs, semicolon = u";"_qs;

        QTest::newRow("N flattened") << u"N:Doe;John;;Dr.;"_qs << n << comma << u"Doe John Dr."_qs;
        QTest::newRow("ADR flattened") << u"ADR;TYPE=HOME:;;Main St 1;Town;;123;Land"_qs << adr << comma
                                       << u"Main St 1 Town 123 Land"_qs;
        QTest::newRow("quoted-printable UTF-8")
            << u"FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=4A=C3=BCrgen"_qs << fn << comma << u"Jürgen"_qs;
        QTest::newRow("delimiter becomes a space") << u"ORG:Acme, Inc."_qs << org << comma << u"Acme Inc."_qs;
        QTest::newRow("other delimiter keeps commas") << u"ORG:Acme, Inc."_qs << org << semicolon << u"Acme, Inc."_qs;
        QTest::newRow("NOTE line breaks") << u"NOTE:line one\\nline two"_qs << note << comma << u"line one line two"_qs;
        QTest::newRow("only equals signs") << u"NOTE:==  =="_qs << note << comma << QString();
        // A value that decoding would break over lines stays on one line: no carriage return
        // reaches a cell, where CSV readers would end the row.
        QTest::newRow("CR LF escape") << u"NOTE;ENCODING=QUOTED-PRINTABLE:a=0D=0Ab"_qs << note << comma << u"a b"_qs;
        QTest::newRow("CR escape alone, lower case")
            << u"NOTE;ENCODING=QUOTED-PRINTABLE:a=0db"_qs << note << comma << u"a b"_qs;

        // Quoted-printable only where the property line declares it; every other "=" stays.
        QTest::newRow("query string") << u"URL:https://example.com/?id=42&lang=de"_qs << url << comma
                                      << u"https://example.com/?id=42&lang=de"_qs;
        QTest::newRow("equals and one digit at the end")
            << u"URL:shop/item?id=7"_qs << url << comma << u"shop/item?id=7"_qs;
        QTest::newRow("equals in a note")
            << u"NOTE:Rabatt 10=20 Prozent"_qs << note << comma << u"Rabatt 10=20 Prozent"_qs;
        QTest::newRow("escapes without declaration")
            << u"FN;CHARSET=UTF-8:J=C3=BCrgen =00"_qs << fn << comma << u"J=C3=BCrgen =00"_qs;
        QTest::newRow("declaration only in another parameter")
            << u"NOTE;TYPE=QUOTED-PRINTABLE:a=41"_qs << note << comma << u"a=41"_qs;
        QTest::newRow("bare QUOTED-PRINTABLE") << u"NOTE;QUOTED-PRINTABLE:a=3Db"_qs << note << comma << u"a=b"_qs;
        QTest::newRow("declaration in lower case")
            << u"note;charset=utf-8;encoding=quoted-printable:=C3=A9"_qs << note << comma << u"é"_qs;
        QTest::newRow("declared with a group prefix")
            << u"item2.ORG;ENCODING=QUOTED-PRINTABLE:A=3DB"_qs << org << comma << u"A=B"_qs;

        // A phone written as a tel: address is its number.
        const int phone = int(ContactColumn::Phone1);
        QTest::newRow("tel: address") << u"TEL;VALUE=uri;TYPE=cell:tel:+1-555-555-0100"_qs << phone << comma
                                      << u"+1-555-555-0100"_qs;
        QTest::newRow("tel: with an extension and a context")
            << u"TEL;VALUE=uri:TEL:+1-555-0100;phone-context=example.com;ext=42"_qs << phone << comma
            << u"+1-555-0100 ext. 42"_qs;
        QTest::newRow("tel: in a note stays") << u"NOTE:tel:+1-555-0100"_qs << note << comma << u"tel:+1-555-0100"_qs;

        // vCard escapes are undone in every value, once.
        QTest::newRow("escaped comma") << u"ORG:Acme\\, Inc."_qs << org << semicolon << u"Acme, Inc."_qs;
        QTest::newRow("escaped colon") << u"URL:http\\://example.com/"_qs << url << comma << u"http://example.com/"_qs;
        QTest::newRow("escaped backslash then n") << u"ORG:a\\\\nb"_qs << org << comma << u"a\\nb"_qs;
        QTest::newRow("newline outside NOTE") << u"ORG:a\\nb"_qs << org << comma << u"a b"_qs;
        QTest::newRow("unknown escape stays") << u"ORG:a\\tb"_qs << org << comma << u"a\\tb"_qs;

        // Quoted-printable keeps letters that are not ASCII.
        QTest::newRow("raw letters beside escapes")
            << u"NOTE;ENCODING=QUOTED-PRINTABLE:Café=3D=C3=A9 ş"_qs << note << comma << u"Café=é ş"_qs;
        QTest::newRow("single-byte code page bytes")
            << u"FN;ENCODING=QUOTED-PRINTABLE:J=FCrgen M=C3=BCller"_qs << fn << comma << u"Jürgen Müller"_qs;

        // FN and N with any parameters.
        QTest::newRow("FN with LANGUAGE") << u"FN;LANGUAGE=de:Ann"_qs << fn << comma << u"Ann"_qs;
        QTest::newRow("FN with a code page") << u"FN;CHARSET=WINDOWS-1252:Ann"_qs << fn << comma << u"Ann"_qs;
        QTest::newRow("N with SORT-AS") << u"N;SORT-AS=\"Lee\":Lee;Ann"_qs << n << comma << u"Lee Ann"_qs;
        QTest::newRow("fn in lower case") << u"fn;charset=utf-8:Ann"_qs << fn << comma << u"Ann"_qs;
        QTest::newRow("FN with a group") << u"item1.FN:Ann Lee"_qs << fn << comma << u"Ann Lee"_qs;
        QTest::newRow("N with a group and parameters")
            << u"A-2.n;LANGUAGE=de:Lee;Ann"_qs << n << comma << u"Lee Ann"_qs;
        QTest::newRow("a group is whatever stands before the last dot")
            << u"item 1.x.FN:Ann"_qs << fn << comma << u"Ann"_qs;

        // A quoted parameter value may hold a colon; the value starts after the first other one.
        const int tel = int(ContactColumn::Phone1);
        QTest::newRow("colon in a quoted TYPE")
            << u"TEL;TYPE=\"voice,cell:x\":555 1000"_qs << tel << comma << u"555 1000"_qs;
        QTest::newRow("colons in quoted GEO and LABEL")
            << u"ADR;GEO=\"geo:51.5,0.1\";LABEL=\"221B Baker St: London\":;;221B Baker St;London"_qs << adr << comma
            << u"221B Baker St London"_qs;
        QTest::newRow("quote after a comma") << u"TEL;TYPE=voice,\"x:y\":555"_qs << tel << comma << u"555"_qs;
        QTest::newRow("quote left open") << u"TEL;TYPE=\"cell:555"_qs << tel << comma << u"555"_qs;
        QTest::newRow("quote inside a word") << u"NOTE;X-SIZE=5\" disk:text"_qs << note << comma << u"text"_qs;
        QTest::newRow("declaration after a quoted colon")
            << u"NOTE;X-L=\"a:b\";ENCODING=QUOTED-PRINTABLE:=41=42"_qs << note << comma << u"AB"_qs;

        // A declared character set reads the escaped bytes and the ASCII between them.
        QTest::newRow("Shift_JIS") << u"N;CHARSET=SHIFT_JIS;ENCODING=QUOTED-PRINTABLE:=83=65=83=58=83=67"_qs << n
                                   << comma << u"テスト"_qs;
        QTest::newRow("Shift_JIS with ASCII trail bytes")
            << u"fn;charset=shift_jis;encoding=quoted-printable:=83e=83X=83g"_qs << fn << comma << u"テスト"_qs;
        QTest::newRow("Windows-1251") << u"FN;CHARSET=WINDOWS-1251;ENCODING=QUOTED-PRINTABLE:=CF=F0=E8=E2=E5=F2"_qs
                                      << fn << comma << u"Привет"_qs;
        QTest::newRow("KOI8-R") << u"item1.NOTE;ENCODING=QUOTED-PRINTABLE;CHARSET=KOI8-R:=F0=D2=C9=D7=C5=D4"_qs << note
                                << comma << u"Привет"_qs;
        QTest::newRow("ISO-8859-2") << u"ORG;CHARSET=ISO-8859-2;QUOTED-PRINTABLE:=AElu=BBou=E8k=FD k=F9=F2"_qs << org
                                    << comma << u"Žluťoučký kůň"_qs;
        QTest::newRow("ISO-8859-1 read as Windows-1252")
            << u"NOTE;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:5 =80 =E0 Z=FCrich"_qs << note << comma
            << u"5 € à Zürich"_qs;
        QTest::newRow("letters written as themselves stay")
            << u"NOTE;CHARSET=WINDOWS-1251;ENCODING=QUOTED-PRINTABLE:Café =CF=F0"_qs << note << comma << u"Café Пр"_qs;
        QTest::newRow("the first CHARSET counts")
            << u"FN;CHARSET=KOI8-R;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=F0"_qs << fn << comma << u"П"_qs;
        QTest::newRow("undefined and unfinished sequences")
            << u"FN;CHARSET=SHIFT_JIS;ENCODING=QUOTED-PRINTABLE:=83=65=FF=83"_qs << fn << comma << u"テ\uFFFD\uFFFD"_qs;
        QTest::newRow("an unknown set reads UTF-8")
            << u"FN;CHARSET=X-UNKNOWN;ENCODING=QUOTED-PRINTABLE:=C3=A9=E9"_qs << fn << comma << u"éé"_qs;
        QTest::newRow("a set without quoted-printable changes nothing")
            << u"FN;CHARSET=SHIFT_JIS:Ann=83"_qs << fn << comma << u"Ann=83"_qs;
    }

    void propertyNames_data()
    {
        // A whole property line and the column its value fills, or -1 for none.
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("column");
        const int none = -1;
        QTest::newRow("EMAIL") << u"EMAIL:a@example.org"_qs << int(ContactColumn::Email1);
        QTest::newRow("group, parameters, lower case")
            << u"item1.email;type=INTERNET:a@example.org"_qs << int(ContactColumn::Email1);
        QTest::newRow("blanks before the colon") << u"EMAIL :a@example.org"_qs << int(ContactColumn::Email1);
        QTest::newRow("URL") << u"url:https://example.org"_qs << int(ContactColumn::Url);
        QTest::newRow("NOTE that mentions a URL") << u"NOTE:see URL: http://x"_qs << int(ContactColumn::Note);
        QTest::newRow("ORG") << u"ORG:Acme"_qs << int(ContactColumn::Organization);
        QTest::newRow("REV") << u"REV:2020-01-01"_qs << int(ContactColumn::Revision);
        QTest::newRow("ADR") << u"ADR:;;Main St 1"_qs << int(ContactColumn::Address);
        QTest::newRow("X-SAMSUNGADR") << u"X-SAMSUNGADR;ENCODING=QUOTED-PRINTABLE:;;=31=32 Main St"_qs
                                      << int(ContactColumn::Address);
        QTest::newRow("TEL in two groups") << u"a.b.TEL;CELL:555"_qs << int(ContactColumn::Phone1);
        QTest::newRow("FBURL") << u"FBURL:https://example.org/busy"_qs << none;
        QTest::newRow("CALADRURI") << u"CALADRURI:mailto:me@example.org"_qs << none;
        QTest::newRow("X-EVOLUTION-VIDEO-URL") << u"X-EVOLUTION-VIDEO-URL:chat"_qs << none;
        QTest::newRow("PHOTO with VALUE=URL") << u"PHOTO;VALUE=URL:http://x/p.jpg"_qs << none;
        QTest::newRow("X-ASSISTANT-TEL") << u"X-ASSISTANT-TEL:555 1000"_qs << none;
        QTest::newRow("X-MS-TEL") << u"X-MS-TEL;VOICE;CALLBACK:555"_qs << none;
        QTest::newRow("EMAIL in a group name") << u"workEmail.X-ABLabel:@work"_qs << none;
        QTest::newRow("X-ABADR") << u"item1.X-ABADR:us"_qs << none;
        QTest::newRow("X-FN in a group") << u"item1.X-FN:Ann"_qs << none;
        QTest::newRow("URLS") << u"URLS:x"_qs << none;
        QTest::newRow("no colon") << u"TEL;555"_qs << none;
    }

    void propertyNames()
    {
        QFETCH(QString, line);
        QFETCH(int, column);
        const ContactFields card = oneCard({line});
        for (int c = 0; c < kContactColumnCount; ++c)
            QCOMPARE(card[size_t(c)].isEmpty(), c != column);
    }

    void storedValues()
    {
        QFETCH(QString, line);
        QFETCH(int, column);
        QFETCH(QString, delimiter);
        QFETCH(QString, expected);
        QCOMPARE(field(oneCard({line}, delimiter.at(0)), ContactColumn(column)), expected);
    }

    void cardStructure_data()
    {
        // Whole lines, and each card they give as "FN|TEL1|TEL2", in the order of the list.
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QStringList>("expected");
        const QString begin = u"BEGIN:VCARD"_qs, end = u"END:VCARD"_qs;
        QTest::newRow("values before BEGIN are dropped")
            << QStringList{u"FN:Before"_qs, u"begin:vcard"_qs, u"TEL:1"_qs, u"End:VCard"_qs} << QStringList{u"|1|"_qs};
        QTest::newRow("an empty card") << QStringList{begin, end} << QStringList{u"||"_qs};
        QTest::newRow("a card without BEGIN starts empty")
            << QStringList{begin, u"FN:A"_qs, u"TEL:1"_qs, end, u"TEL:2"_qs, end} << QStringList{u"A|1|"_qs, u"|2|"_qs};
        QTest::newRow("a doubled END makes no card")
            << QStringList{begin, u"FN:A"_qs, end, end, QString(), end, u"FN:B"_qs, end}
            << QStringList{u"A||"_qs, u"B||"_qs};
        QTest::newRow("white space around the markers")
            << QStringList{u"BEGIN:VCARD "_qs,  u"FN:A"_qs, u"END:VCARD\t"_qs, QString(),
                           u"  BEGIN:VCARD"_qs, u"FN:B"_qs, u"END:VCARD \t"_qs}
            << QStringList{u"A||"_qs, u"B||"_qs};
        QTest::newRow("markers with a group prefix") << QStringList{u"item.BEGIN:VCARD"_qs,
                                                                    u"item.FN:A"_qs,
                                                                    u"item.END:VCARD"_qs,
                                                                    u"TEST-2.begin:vcard "_qs,
                                                                    u"FN:B"_qs,
                                                                    u"TEST-2.End:VCard"_qs,
                                                                    begin,
                                                                    u"FN:C"_qs,
                                                                    u"NOTE:x.END:VCARD"_qs,
                                                                    u"a b.END:VCARD"_qs,
                                                                    u"..END:VCARD"_qs,
                                                                    end}
                                                     << QStringList{u"A||"_qs, u"B||"_qs, u"C||"_qs};
        QTest::newRow("a folded END is part of its value")
            << QStringList{begin, u"FN:A"_qs, u" END:VCARD"_qs, u"TEL:1"_qs, u"NOTE:x"_qs, u"\tBEGIN:VCARD"_qs, end}
            << QStringList{u"AEND:VCARD|1|"_qs};
        QTest::newRow("a file cut short") << QStringList{begin, u"FN:A"_qs, u"TEL:1"_qs} << QStringList{u"A|1|"_qs};
        QTest::newRow("an END that is no END")
            << QStringList{begin, u"FN:A"_qs, u"END:VCARD."_qs, QString(), begin, u"FN:B"_qs, end, QString()}
            << QStringList{u"A||"_qs, u"B||"_qs};
        QTest::newRow("nested cards") << QStringList{begin, u"N:parent"_qs, begin,           u"N:nest1"_qs,
                                                     end,   begin,          u"FN:nest2"_qs,  u"TEL:2"_qs,
                                                     end,   u"TEL:1"_qs,    u"FN:parent"_qs, end}
                                      << QStringList{u"parent|1|"_qs, u"|"_qs + u"|"_qs, u"nest2|2|"_qs};
        QTest::newRow("an agent's card") << QStringList{
            begin, u"FN:Boss"_qs, u"TEL:1"_qs, u"AGENT:BEGIN:VCARD"_qs, u"FN:Assistant"_qs, u"TEL:2"_qs,
            end,   u"TEL:3"_qs,   end} << QStringList{u"Boss|1|3"_qs, u"Assistant|2|"_qs};
        QTest::newRow("listed in the order they begin")
            << QStringList{begin, u"FN:1"_qs, begin, u"FN:2"_qs, begin, u"FN:3"_qs, end, end,
                           begin, u"FN:4"_qs, end,   end,        begin, u"FN:5"_qs, end}
            << QStringList{u"1||"_qs, u"2||"_qs, u"3||"_qs, u"4||"_qs, u"5||"_qs};
    }

    void cardStructure()
    {
        QFETCH(QStringList, lines);
        QFETCH(QStringList, expected);
        QStringList got;
        for (const ContactFields &card : scanLines(lines)) {
            got.append(QStringList{field(card, ContactColumn::FormattedName), field(card, ContactColumn::Phone1),
                                   field(card, ContactColumn::Phone2)}
                           .join(u'|'));
        }
        QCOMPARE(got, expected);
    }

    void eachFileKeepsItsCards()
    {
        // A file cut short inside its last card, then one whose first card has no BEGIN.
        const QString begin = u"BEGIN:VCARD"_qs, end = u"END:VCARD"_qs;
        TextLines lines = TextLines::fromStringList({begin, u"FN:A"_qs, u"TEL:1"_qs, QString()});
        lines.markFileEnd();
        TextLines second
            = TextLines::fromStringList({u" TEL:folded"_qs, u"TEL:2"_qs, end, begin, u"FN:C"_qs, end, QString()});
        second.markFileEnd();
        lines.appendLines(std::move(second));

        QStringList got;
        const CardList cards = scanCards(lines, u',');
        for (qsizetype i = 0; i < cards.size(); ++i) {
            const ContactFields card = cards.fields(i);
            got.append(QStringList{field(card, ContactColumn::FormattedName), field(card, ContactColumn::Phone1),
                                   field(card, ContactColumn::Phone2)}
                           .join(u'|'));
        }
        // The folded line at the second file's start is that file's, not a fold of the first's end.
        QCOMPARE(got, (QStringList{u"A|1|"_qs, u"|folded|2"_qs, u"C||"_qs}));
        QCOMPARE(scanCards(lines, u',', {}, ScanMode::AllFields).size(), 3);
    }

    void multiSlotFields()
    {
        const ContactFields card = oneCard({u"item1.EMAIL;type=INTERNET:a@x"_qs, u"EMAIL:b@x"_qs, u"EMAIL:"_qs,
                                            u"EMAIL:c@x"_qs, u"EMAIL:d@x"_qs, u"EMAIL:e@x"_qs, u"EMAIL:f@x"_qs,
                                            u"TEL:1"_qs, u"TEL:2"_qs, u"TEL:3"_qs, u"TEL:4"_qs});
        QCOMPARE(field(card, ContactColumn::Email1), u"a@x"_qs);
        QCOMPARE(field(card, ContactColumn::Email3), u"c@x"_qs); // the empty value left the slot free
        QCOMPARE(field(card, ContactColumn::Email5), u"e@x"_qs);
        QCOMPARE(field(card, ContactColumn::Phone3), u"3"_qs);
    }

    void singleFieldsTakeTheLastLine()
    {
        const ContactFields card = oneCard({u"ORG:First"_qs, u"ORG:"_qs, u"item1.X-ABADR:us"_qs,
                                            u"item1.ADR;type=HOME:;;Main St 1;Town;;123;Land"_qs});
        QCOMPARE(field(card, ContactColumn::Organization), QString());
        QCOMPARE(field(card, ContactColumn::Address), u"Main St 1 Town 123 Land"_qs);
    }

    void quotedPrintableSoftBreaks()
    {
        const ContactFields card
            = oneCard({u"FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=C3=A9="_qs, u"=C3=A9="_qs, u" x"_qs, u"TEL:5"_qs});
        // The blank-led line after "=" belongs to the value and is not a fold.
        QCOMPARE(field(card, ContactColumn::FormattedName), u"éé x"_qs);
        QCOMPARE(field(card, ContactColumn::Phone1), u"5"_qs);

        // A line that was blank as loaded ends the join, so files never run into each other.
        const auto cards = scanLines(
            {u"BEGIN:VCARD"_qs, u"NOTE;ENCODING=QUOTED-PRINTABLE:a="_qs, QString(), u" TEL:9"_qs, u"END:VCARD"_qs});
        QCOMPARE(field(cards.at(0), ContactColumn::Note), u"a"_qs);
        QCOMPARE(field(cards.at(0), ContactColumn::Phone1), u"9"_qs);
    }

    void foldedLinesAreJoined()
    {
        const ContactFields card = oneCard({
            u"NOTE:Call about the"_qs,
            u"  TEL: extension"_qs, // the continuation mentions TEL but is part of the note
            u"\tafter lunch"_qs,
            u" "_qs, // white space only: not a fold
            u"ORG:Acme Widgets Intern"_qs,
            u" ational"_qs,
        });
        QCOMPARE(field(card, ContactColumn::Note), u"Call about the TEL: extensionafter lunch"_qs);
        QCOMPARE(field(card, ContactColumn::Phone1), QString());
        QCOMPARE(field(card, ContactColumn::Organization), u"Acme Widgets International"_qs);

        // A quoted-printable join takes a following folded line whole.
        const ContactFields joined = oneCard({u"NOTE;ENCODING=QUOTED-PRINTABLE:a=20="_qs, u"x"_qs, u" y"_qs});
        QCOMPARE(field(joined, ContactColumn::Note), u"a xy"_qs);
    }

    void continuationLines_data()
    {
        // Whole lines, and what one column holds in each card that they give.
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("column");
        QTest::addColumn<QStringList>("expected");
        const int fn = int(ContactColumn::FormattedName), note = int(ContactColumn::Note);
        const int adr = int(ContactColumn::Address), tel = int(ContactColumn::Phone1);
        const int email1 = int(ContactColumn::Email1), email2 = int(ContactColumn::Email2);
        const QString begin = u"BEGIN:VCARD"_qs, end = u"END:VCARD"_qs;

        // A soft line break goes whole: the next line's first characters are text, never hex digits.
        QTest::newRow("break before a hex letter")
            << QStringList{begin, u"NOTE;ENCODING=QUOTED-PRINTABLE:Meeting at 10="_qs, u"am in Berlin"_qs, QString(),
                           end}
            << note << QStringList{u"Meeting at 10am in Berlin"_qs};
        QTest::newRow("break before a digit")
            << QStringList{begin, u"ADR;HOME;ENCODING=QUOTED-PRINTABLE:;;Hauptstr. 6="_qs, u"0;Ulm;;89073="_qs,
                           u";DE"_qs, end}
            << adr << QStringList{u"Hauptstr. 60 Ulm 89073 DE"_qs};
        QTest::newRow("break inside a UTF-8 sequence")
            << QStringList{begin, u"FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:Br=C3="_qs, u"=BCning"_qs, end} << fn
            << QStringList{u"Brüning"_qs};
        QTest::newRow("blank after a break belongs to the value")
            << QStringList{begin, u"NOTE;QUOTED-PRINTABLE:a="_qs, u" b"_qs, end} << note << QStringList{u"a b"_qs};
        QTest::newRow("declaration completed by a fold")
            << QStringList{begin, u"NOTE;ENCODING="_qs, u" QUOTED-PRINTABLE:a=3Db="_qs, u"c"_qs, end} << note
            << QStringList{u"a=bc"_qs};

        // Without a declaration, a line ending in "=" takes no line after it.
        QTest::newRow("undeclared note keeps its =")
            << QStringList{begin, u"NOTE:trailing = is no soft line break="_qs, u"FN:Ann="_qs, end} << note
            << QStringList{u"trailing = is no soft line break="_qs};
        QTest::newRow("the name after it keeps its own value")
            << QStringList{begin, u"NOTE:trailing = is no soft line break="_qs, u"FN:Ann="_qs, end} << fn
            << QStringList{u"Ann="_qs};
        QTest::newRow("TEL folded after TYPE=")
            << QStringList{begin, u"TEL;TYPE="_qs, u"\tCELL:+49 170 1234567"_qs, end} << tel
            << QStringList{u"+49 170 1234567"_qs};
        QTest::newRow("fold after = in an undeclared value")
            << QStringList{begin, u"NOTE:a="_qs, u" b"_qs, end} << note << QStringList{u"a=b"_qs};

        // Declared properties among the continuation lines take the rest of the same lines.
        QTest::newRow("declared lines in a run") << QStringList{begin, u"NOTE;ENCODING=QUOTED-PRINTABLE:ab="_qs,
                                                                u"NOTE;ENCODING=QUOTED-PRINTABLE:cd="_qs, u"ef"_qs, end}
                                                 << note << QStringList{u"cdef"_qs};
        QTest::newRow("e-mails in a run, first slot")
            << QStringList{begin, u"EMAIL;QUOTED-PRINTABLE:a="_qs, u"EMAIL;QUOTED-PRINTABLE:b="_qs, u"c"_qs, end}
            << email1 << QStringList{u"aEMAIL QUOTED-PRINTABLE:bc"_qs};
        QTest::newRow("e-mails in a run, second slot")
            << QStringList{begin, u"EMAIL;QUOTED-PRINTABLE:a="_qs, u"EMAIL;QUOTED-PRINTABLE:b="_qs, u"c"_qs, end}
            << email2 << QStringList{u"bc"_qs};
        QTest::newRow("an empty joined value leaves the slot free")
            << QStringList{begin, u"EMAIL;QUOTED-PRINTABLE:="_qs, u"=00"_qs, u"EMAIL:x@example.com"_qs, end} << email1
            << QStringList{u"x@example.com"_qs};
        QTest::newRow("END as the last continuation line")
            << QStringList{begin, u"NOTE;QUOTED-PRINTABLE:x="_qs, end, end} << note << QStringList{u"xEND:VCARD"_qs};
        QTest::newRow("a character set across a soft line break")
            << QStringList{begin, u"FN;CHARSET=SHIFT_JIS;ENCODING=QUOTED-PRINTABLE:=83="_qs, u"=65=83X"_qs, end} << fn
            << QStringList{u"テス"_qs};
        QTest::newRow("not carried to the next card")
            << QStringList{begin, u"NOTE;QUOTED-PRINTABLE:x="_qs, u"y"_qs, end, u"FN:B"_qs, end} << note
            << QStringList{u"xy"_qs, QString()};
    }

    void continuationLines()
    {
        QFETCH(QStringList, lines);
        QFETCH(int, column);
        QFETCH(QStringList, expected);
        const QStringList got = columnOfEachCard(lines, ContactColumn(column));
        QCOMPARE(got, expected);
    }

    void largeInputsScanLikeSmallOnes()
    {
        // Large inputs are scanned in two halves; cards without BEGIN, and doubled ENDs, must
        // come out as they do from one pass.
        QStringList lines;
        std::vector<std::pair<QString, QString>> expected; // name and first phone of each card
        for (int i = 0; i < 30000; ++i) {
            const QString name = QStringLiteral("Person %1").arg(i);
            lines << u"BEGIN:VCARD"_qs << u"FN:"_qs + name << u"TEL:1"_qs << u"END:VCARD"_qs;
            expected.emplace_back(name, u"1"_qs);
            if (i % 1000 == 999) {
                lines << u"TEL:alone"_qs << u"END:VCARD"_qs << u"END:VCARD"_qs;
                expected.emplace_back(QString(), u"alone"_qs);
            }
        }
        auto cards = scanLines(lines);
        QCOMPARE(cards.size(), expected.size());
        for (size_t i = 0; i < cards.size(); ++i) {
            QCOMPARE(field(cards[i], ContactColumn::FormattedName), expected[i].first);
            QCOMPARE(field(cards[i], ContactColumn::Phone1), expected[i].second);
        }

        // A card left open in the first half holds the cards after it: none of them is lost,
        // and they come in the order in which they begin.
        lines.clear();
        for (int i = 0; i < 30000; ++i) {
            lines << u"BEGIN:VCARD"_qs << QStringLiteral("FN:Person %1").arg(i);
            if (i != 100)
                lines << u"END:VCARD"_qs;
        }
        cards = scanLines(lines);
        QCOMPARE(cards.size(), size_t(30000));
        for (size_t i = 0; i < cards.size(); ++i)
            QCOMPARE(field(cards[i], ContactColumn::FormattedName), QStringLiteral("Person %1").arg(i));
    }

    void longValues_data()
    {
        // Values of a megabyte and more take another way through the scan (their own buffers,
        // shared with the card list): each must come out as a short value would.
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("column");
        QTest::addColumn<QStringList>("expected");
        const int note = int(ContactColumn::Note), email1 = int(ContactColumn::Email1);
        const int email2 = int(ContactColumn::Email2);
        const QString begin = u"BEGIN:VCARD"_qs, end = u"END:VCARD"_qs;
        const QString text = u"ab  c\\n;d,e "_qs.repeated(100000); // 1.3 MB
        // The value as the text pipeline reads and normalises it.
        const QString decoded = normalizeFieldValue(decodePropertyValue(text, u',', false));

        QTest::newRow("one line") << QStringList{begin, u"NOTE:= = "_qs + text + u" \t"_qs, end} << note
                                  << QStringList{decoded};
        const QString words = u"word "_qs.repeated(300000) + u" end"_qs; // one run of spaces, at the end
        QTest::newRow("single spaces up to the end") << QStringList{begin, u"NOTE:"_qs + words, end} << note
                                                     << QStringList{u"word "_qs.repeated(300000) + u"end"_qs};
        QStringList folded{begin, u"NOTE:\uFEFF"_qs + text.first(70)};
        for (qsizetype at = 70; at < text.size(); at += 74)
            folded << u" "_qs + text.sliced(at, std::min<qsizetype>(74, text.size() - at));
        folded << end;
        QTest::newRow("folded lines, a byte-order mark first") << folded << note << QStringList{decoded};
        QTest::newRow("not carried to the next card")
            << QStringList{begin, u"NOTE:"_qs + text, end, u"FN:x"_qs, end, begin, end} << note
            << QStringList{decoded, QString(), QString()};
        QTest::newRow("replaced in its card")
            << QStringList{begin, u"NOTE:"_qs + text, u"NOTE:short"_qs, end, begin, u"NOTE:"_qs + text, end} << note
            << QStringList{u"short"_qs, decoded};
        // Nothing is left of it, and the card after it starts empty.
        const QString equals = u"= "_qs.repeated(600000);
        QTest::newRow("only equals signs, in a slot")
            << QStringList{begin, u"EMAIL:"_qs + equals, end, u"EMAIL:a@x"_qs, end} << email2
            << QStringList{QString(), QString()};
        QTest::newRow("only equals signs, its own slot")
            << QStringList{begin, u"EMAIL:"_qs + equals, end, u"EMAIL:a@x"_qs, end} << email1
            << QStringList{QString(), u"a@x"_qs};
        QTest::newRow("in a card inside a card")
            << QStringList{begin, u"NOTE:outer"_qs, u"AGENT:BEGIN:VCARD"_qs, u"NOTE:"_qs + text, end, end} << note
            << QStringList{u"outer"_qs, decoded};
    }

    void longValues()
    {
        QFETCH(QStringList, lines);
        QFETCH(int, column);
        QFETCH(QStringList, expected);
        const QStringList got = columnOfEachCard(lines, ContactColumn(column));
        QCOMPARE(got.size(), expected.size());
        for (qsizetype i = 0; i < got.size(); ++i)
            QVERIFY2(got[i] == expected[i], qPrintable(QStringLiteral("card %1 differs").arg(i)));
    }

    void cardListKeepsLongFieldsInTheirBuffers()
    {
        const QByteArray longNote = QByteArray("note ").repeated(300000);
        QByteArray name("name"), mail("a@x");
        ContactFieldBuffers buffers{};
        buffers[size_t(ContactColumn::FormattedName)] = &name;
        buffers[size_t(ContactColumn::Email2)] = &mail;
        buffers[size_t(ContactColumn::Note)] = &longNote;
        ContactFieldsUtf8 plain;
        plain[size_t(ContactColumn::Phone1)] = "555";

        CardList first;
        first.append(plain);
        first.appendBuffers(buffers);
        first.append(plain); // after a card with a field of its own, records go on in their block
        CardList second;
        second.appendBuffers(buffers);
        first.appendList(std::move(second));
        first.append(plain);
        CardList third; // cards taken one by one from another list
        for (qsizetype i = 0; i < first.size(); ++i)
            third.appendCardOf(first, i);
        name = "changed"; // the list keeps what it was given
        ContactFieldsUtf8 withLongNote;
        withLongNote[size_t(ContactColumn::FormattedName)] = "name";
        withLongNote[size_t(ContactColumn::Email2)] = "a@x";
        withLongNote[size_t(ContactColumn::Note)] = longNote;

        for (const CardList *cards : {&first, &third}) {
            QCOMPARE(cards->size(), 5);
            for (const qsizetype i : {0, 2, 4}) {
                QCOMPARE(cards->fieldsUtf8(i), plain);
                QCOMPARE(cards->field(i, ContactColumn::Phone1), "555");
            }
            for (const qsizetype i : {1, 3}) {
                QCOMPARE(cards->fieldsUtf8(i), withLongNote);
                for (int column = 0; column < kContactColumnCount; ++column)
                    QCOMPARE(cards->field(i, column), withLongNote[size_t(column)]);
                // The long note's bytes are the buffer's own, not a copy.
                QCOMPARE(cards->field(i, ContactColumn::Note).data(), longNote.constData());
            }
        }
    }

    void firstCardsLines_data()
    {
        // Whole lines, how many cards are asked for, and how many lines hold them.
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("cards");
        QTest::addColumn<int>("expected");
        const QString begin = u"BEGIN:VCARD"_qs, end = u"END:VCARD"_qs;
        const QStringList three{begin, u"FN:A"_qs, end, begin, u"FN:B"_qs, end, begin, u"FN:C"_qs, end};
        QTest::newRow("up to the third card") << three << 2 << 6;
        QTest::newRow("fewer cards than asked") << three << 5 << 9;
        QTest::newRow("exactly as many as asked") << three << 3 << 9;
        QTest::newRow("a folded BEGIN is no place to cut")
            << QStringList{begin, u"FN:A"_qs, end, begin, u" X"_qs, u"FN:B"_qs, end, begin, u"FN:C"_qs, end} << 1 << 7;
        QTest::newRow("a nested card counts as begun")
            << QStringList{begin, u"FN:A"_qs, begin, u"FN:N"_qs, end, end, begin, u"FN:B"_qs, end} << 2 << 6;
        // It begins a card, but reading on past it only reads more.
        QTest::newRow("an indented BEGIN after an empty line is no place to cut")
            << QStringList{begin, u"FN:A"_qs, end, QString(), u" begin:vcard"_qs, end} << 1 << 6;
        QTest::newRow("a folded BEGIN is part of the line before")
            << QStringList{begin, u"FN:A"_qs, u"NOTE:x"_qs, u" begin:vcard"_qs, end, begin, u"FN:B"_qs, end} << 1 << 5;
    }

    void firstCardsLines()
    {
        // Scanning the lines found gives the first cards of the whole scan, at least as many as asked.
        QFETCH(QStringList, lines);
        QFETCH(int, cards);
        QFETCH(int, expected);
        QCOMPARE(linesOfFirstCards(TextLines::fromStringList(lines), cards), qsizetype(expected));
        const std::vector<ContactFields> whole = scanLines(lines);
        const std::vector<ContactFields> first = scanLines(lines.first(expected));
        QVERIFY(first.size() >= std::min(whole.size(), size_t(cards)) && first.size() <= whole.size());
        QVERIFY(std::equal(first.begin(), first.end(), whole.begin()));
    }

    void testNormalizeFieldValue_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("expected");
        QTest::newRow("outer control characters") << u"\x01 a b \x07"_qs << u"a b"_qs;
        QTest::newRow("leading equals") << u"= =a"_qs << u"a"_qs;
        QTest::newRow("many leading equals") << u"= \t"_qs.repeated(100000) + u"=a= b"_qs << u"a= b"_qs;
        QTest::newRow("space runs") << u"a     b  c"_qs << u"a b c"_qs;
        QTest::newRow("tabs stay") << u"a\t\tb"_qs << u"a\t\tb"_qs;
    }

    void testNormalizeFieldValue()
    {
        QFETCH(QString, value);
        QFETCH(QString, expected);
        QCOMPARE(normalizeFieldValue(value), expected);
    }
};

QTEST_GUILESS_MAIN(TestScanner)
#include "tst_scanner.moc"
