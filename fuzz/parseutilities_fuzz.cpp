// Comment filtering, option splitting in both modes, value extraction and parameter lookup.
#include "fuzz/fuzzfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<char> text = fuzzfile::Text(data, size);
    CParseUtilities utilities;
    CString filtered;
    std::vector<char> copy = text;
    utilities.FilterData(copy.data(), filtered);
    for (int mode : {0, 1})
    {
        CStringList* options = utilities.ExtractOptions(CString(text.data()), mode);
        if (options == nullptr)
            continue;
        for (POSITION pos = options->GetHeadPosition(); pos != nullptr;)
        {
            const CString& option = options->GetNext(pos);
            CString value;
            int quoted = 0;
            for (int start : {-1, 0, 5, option.GetLength(), option.GetLength() + 1})
                utilities.ExtractStringOrQuotedString(option, start, value, &quoted);
        }
        char buffer[16];
        utilities.GetParameterData(options, "charset", buffer, sizeof(buffer));
        utilities.GetParameterData(options, "", buffer, 1);
        delete options;
    }
    return 0;
}
