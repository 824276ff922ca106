// The content type map: extensions to types through the MIME database and the built-in
// table, and extensions for parsed blocks.
#include "packtest.h"

#include <gtest/gtest.h>

using namespace packtest;

namespace
{

struct DeriveRow
{
    const char* fileName;
    CMIMEPart::_CONTENT_TYPE type;
    const char* subType;
    CMIMEPart::_ENCODE_TYPE encoding;
};

void ExpectDerived(const DeriveRow& row, const char* database)
{
    CInputBlock block;
    EXPECT_TRUE(DeriveContentType(row.fileName, &block));
    EXPECT_EQ(row.type, block.GetContentType()) << row.fileName << " with " << (database ? database : "no database");
    EXPECT_STREQ(row.subType, block.GetSubTypeString()) << row.fileName;
    EXPECT_EQ(row.encoding, block.GetEncodeType()) << row.fileName;

    // The map object answers like the free function.
    CInputBlock viaMap;
    const CContentTypeMap map;
    EXPECT_TRUE(map.DeriveContentType(row.fileName, &viaMap));
    EXPECT_EQ(block.GetContentType(), viaMap.GetContentType());
    EXPECT_STREQ(block.GetSubTypeString(), viaMap.GetSubTypeString());
    EXPECT_EQ(block.GetEncodeType(), viaMap.GetEncodeType());
}

} // namespace

TEST(DeriveContentType, BuiltInTableWithoutDatabase)
{
    MimeDatabase none(nullptr);
    const DeriveRow rows[] = {
        {"photo.JPG", CMIMEPart::CONTENT_IMAGE, "jpeg", CMIMEPart::ENCODE_BASE64},
        {"a.Txt", CMIMEPart::CONTENT_TEXT, "plain", CMIMEPart::ENCODE_7BIT},
        {"a.tXt", CMIMEPart::CONTENT_TEXT, "plain", CMIMEPart::ENCODE_7BIT},
        {"a.TXT", CMIMEPart::CONTENT_TEXT, "plain", CMIMEPart::ENCODE_7BIT},
        {"a.TEXT", CMIMEPart::CONTENT_APPLICATION, "octet-stream", CMIMEPart::ENCODE_BASE64},
        {"doc.rtf", CMIMEPart::CONTENT_TEXT, "richtext", CMIMEPart::ENCODE_BASE64},
        {"C:\\dir\\pic.gif", CMIMEPart::CONTENT_IMAGE, "gif", CMIMEPart::ENCODE_BASE64},
        {"x.jpe", CMIMEPart::CONTENT_IMAGE, "jpeg", CMIMEPart::ENCODE_BASE64},
        {"x.jpeg", CMIMEPart::CONTENT_IMAGE, "jpeg", CMIMEPart::ENCODE_BASE64},
        {"/v/x.mpg", CMIMEPart::CONTENT_VIDEO, "mpeg", CMIMEPart::ENCODE_BASE64},
        {"x.MPEG", CMIMEPart::CONTENT_VIDEO, "mpeg", CMIMEPart::ENCODE_BASE64},
        {"x.mp2", CMIMEPart::CONTENT_VIDEO, "mpeg", CMIMEPart::ENCODE_BASE64},
        {"x.mpa", CMIMEPart::CONTENT_VIDEO, "mpeg", CMIMEPart::ENCODE_BASE64},
        {"x.mpe", CMIMEPart::CONTENT_VIDEO, "mpeg", CMIMEPart::ENCODE_BASE64},
        {"x.ps", CMIMEPart::CONTENT_APPLICATION, "postscript", CMIMEPart::ENCODE_BASE64},
        {"x.p", CMIMEPart::CONTENT_APPLICATION, "octet-stream", CMIMEPart::ENCODE_BASE64},
        {"x.mp", CMIMEPart::CONTENT_APPLICATION, "octet-stream", CMIMEPart::ENCODE_BASE64},
        {"README", CMIMEPart::CONTENT_APPLICATION, "octet-stream", CMIMEPart::ENCODE_BASE64},
        {"/dir.gif/README", CMIMEPart::CONTENT_APPLICATION, "octet-stream", CMIMEPart::ENCODE_BASE64},
        {"", CMIMEPart::CONTENT_APPLICATION, "octet-stream", CMIMEPart::ENCODE_BASE64},
        {"x.wrl", CMIMEPart::CONTENT_APPLICATION, "octet-stream", CMIMEPart::ENCODE_BASE64},
    };
    for (const DeriveRow& row : rows)
        ExpectDerived(row, nullptr);
}

TEST(DeriveContentType, DatabaseFirst)
{
    const char* database = "image/jpeg jpeg jpg jpe\n"
                           "x-world/x-vrml wrl vrml\n"
                           "text/html html htm\n"
                           "message/rfc822 eml\n"
                           "multipart/related mht\n"
                           "audio/basic au snd\n"
                           "video/mp4 mp4\n"
                           "application/pdf pdf\n"
                           "Image/PNG png\n"
                           "chemical/x-pdb pdb\n";
    MimeDatabase db(database);
    const DeriveRow rows[] = {
        // The database never chooses base64, whatever the built-in table says.
        {"photo.jpg", CMIMEPart::CONTENT_IMAGE, "jpeg", CMIMEPart::ENCODE_BINARY},
        {"PHOTO.JPG", CMIMEPart::CONTENT_IMAGE, "jpeg", CMIMEPart::ENCODE_BINARY},
        // A main type outside the table leaves the choice to the built-in table.
        {"world.wrl", CMIMEPart::CONTENT_APPLICATION, "octet-stream", CMIMEPart::ENCODE_BASE64},
        {"m.pdb", CMIMEPart::CONTENT_APPLICATION, "octet-stream", CMIMEPart::ENCODE_BASE64},
        {"page.html", CMIMEPart::CONTENT_TEXT, "html", CMIMEPart::ENCODE_7BIT},
        {"mail.eml", CMIMEPart::CONTENT_MESSAGE, "rfc822", CMIMEPart::ENCODE_8BIT},
        {"page.mht", CMIMEPart::CONTENT_MULTIPART, "related", CMIMEPart::ENCODE_8BIT},
        {"s.au", CMIMEPart::CONTENT_AUDIO, "basic", CMIMEPart::ENCODE_BINARY},
        {"v.mp4", CMIMEPart::CONTENT_VIDEO, "mp4", CMIMEPart::ENCODE_BINARY},
        {"d.pdf", CMIMEPart::CONTENT_APPLICATION, "pdf", CMIMEPart::ENCODE_BINARY},
        {"p.png", CMIMEPart::CONTENT_IMAGE, "png", CMIMEPart::ENCODE_BINARY}, // the database stores lower case
        // Not in the database: the built-in table.
        {"x.gif", CMIMEPart::CONTENT_IMAGE, "gif", CMIMEPart::ENCODE_BASE64},
        {"README", CMIMEPart::CONTENT_APPLICATION, "octet-stream", CMIMEPart::ENCODE_BASE64},
    };
    for (const DeriveRow& row : rows)
        ExpectDerived(row, database);
}

TEST(DeriveContentType, MalformedDatabaseValuesAreIgnored)
{
    // "text/" (nothing after the slash) and "text" (no slash) are not usable types.
    const char* database = "text/ txt\ntext rtf\n/plain gif\n";
    MimeDatabase db(database);
    const DeriveRow rows[] = {
        {"a.txt", CMIMEPart::CONTENT_TEXT, "plain", CMIMEPart::ENCODE_7BIT},
        {"a.rtf", CMIMEPart::CONTENT_TEXT, "richtext", CMIMEPart::ENCODE_BASE64},
        {"a.gif", CMIMEPart::CONTENT_IMAGE, "gif", CMIMEPart::ENCODE_BASE64},
    };
    for (const DeriveRow& row : rows)
        ExpectDerived(row, database);
}

TEST(DeriveFileExtension, AppendsTheDatabaseExtension)
{
    MimeDatabase db("image/gif gif\napplication/octet-stream bin\n");
    struct Row
    {
        const char* name;
        CMIMEPart::_CONTENT_TYPE type;
        const char* subType;
        const char* suggestName;
        const char* expectedName;
        CMIMEPart::_CONTENT_TYPE expectedType;
        const char* expectedSubType;
        CMIMEPart::_ENCODE_TYPE expectedEncoding;
    } rows[] = {
        {"typed, no extension", CMIMEPart::CONTENT_IMAGE, "gif", "picture", "picture.gif", CMIMEPart::CONTENT_IMAGE,
         "gif", CMIMEPart::ENCODE_8BIT},
        {"subtype in another case", CMIMEPart::CONTENT_IMAGE, "GIF", "picture", "picture.gif", CMIMEPart::CONTENT_IMAGE,
         "GIF", CMIMEPart::ENCODE_8BIT},
        {"has an extension", CMIMEPart::CONTENT_IMAGE, "gif", "a.b", "a.b", CMIMEPart::CONTENT_IMAGE, "gif",
         CMIMEPart::ENCODE_8BIT},
        {"type without database extension", CMIMEPart::CONTENT_IMAGE, "tiff", "scan", "scan", CMIMEPart::CONTENT_IMAGE,
         "tiff", CMIMEPart::ENCODE_8BIT},
        {"untyped, empty name", CMIMEPart::CONTENT_UNKNOWN, "", "", "", CMIMEPart::CONTENT_APPLICATION, "Octet-stream",
         CMIMEPart::ENCODE_8BIT},
        {"untyped, typed from the name by the database", CMIMEPart::CONTENT_UNKNOWN, "", "x.GIF", "x.GIF",
         CMIMEPart::CONTENT_IMAGE, "gif", CMIMEPart::ENCODE_BINARY},
        {"untyped, no extension: derived and extended", CMIMEPart::CONTENT_UNKNOWN, "", "README", "README.bin",
         CMIMEPart::CONTENT_APPLICATION, "octet-stream", CMIMEPart::ENCODE_BASE64},
    };
    for (const Row& row : rows)
    {
        COutputBlock block;
        block.SetContentType(row.type);
        block.SetSubTypeString(row.subType);
        block.SetSuggestName(row.suggestName);
        EXPECT_TRUE(DeriveFileExtension(&block));
        EXPECT_STREQ(row.expectedName, block.GetSuggestName()) << row.name;
        EXPECT_EQ(row.expectedType, block.GetContentType()) << row.name;
        EXPECT_STREQ(row.expectedSubType, block.GetSubTypeString()) << row.name;
        EXPECT_EQ(row.expectedEncoding, block.GetEncodeType()) << row.name;
    }
}

TEST(DeriveFileExtension, WithoutDatabase)
{
    MimeDatabase none(nullptr);
    COutputBlock block;
    block.SetContentType(CMIMEPart::CONTENT_IMAGE);
    block.SetSubTypeString("gif");
    block.SetSuggestName("picture");
    const CContentTypeMap map;
    EXPECT_TRUE(map.DeriveFileExtension(&block));
    EXPECT_STREQ("picture", block.GetSuggestName());

    COutputBlock untyped;
    untyped.SetEncodeType(CMIMEPart::ENCODE_QUOTED_PRINTABLE);
    EXPECT_TRUE(map.DeriveFileExtension(&untyped));
    EXPECT_EQ(CMIMEPart::CONTENT_APPLICATION, untyped.GetContentType());
    EXPECT_STREQ("Octet-stream", untyped.GetSubTypeString());
    EXPECT_EQ(CMIMEPart::ENCODE_QUOTED_PRINTABLE, untyped.GetEncodeType());
}

TEST(DeriveFileExtension, LongNameIsCutToItsField)
{
    MimeDatabase db("image/gif gif\n");
    COutputBlock block;
    block.SetContentType(CMIMEPart::CONTENT_IMAGE);
    block.SetSubTypeString("gif");
    const std::string longName(258, 'n');
    block.SetSuggestName(longName.c_str());
    EXPECT_TRUE(DeriveFileExtension(&block));
    EXPECT_EQ(std::string(259, 'n').substr(0, 258) + ".", std::string(block.GetSuggestName()));
}
