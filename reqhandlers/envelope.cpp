#include "reqhandlers/envelope.hpp"

namespace dcu::answer {

std::size_t open_envelope(TextBuilder &text, std::string_view type, std::string_view seq_num,
                          CommandType command_type, std::string_view status) {
    text.member("TYPE", type);
    text.member("SEQ_NUM", seq_num);
    switch (command_type) {
    case CommandType::od_message: text.member("CMD_TYPE", "OD_MESSAGE"); break;
    case CommandType::modem_message: text.member("DATATYPE", "MODEM_MESSAGE"); break;
    case CommandType::dlms_diag_message: text.member("DATATYPE", "DLMS_DIAG_MESSAGE"); break;
    }
    const std::size_t status_offset = text.member_at("CMD_STATUS", status);
    text.open_member("DATA", layout::kObject);
    return status_offset;
}

}  // namespace dcu::answer
