#include "mcu_link/mcu_send_block.h"

void CMcuSendBlock::ClearBlock() {
    m_blockBuf.fill(0);
    m_blockLen = 0;
}
