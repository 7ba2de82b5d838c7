#include "ecrlink/ECRProto.h"

#include "ProtoLog.h"

using namespace ecrlink_detail;
using namespace ECRPResult;

unsigned int CECRProto::ecrSend(const unsigned char* data, unsigned int length, unsigned char check, int attempts) {
    (void)data; (void)length; (void)check; (void)attempts;
    return NoChannel;
}

unsigned int CECRProto::readNBytes(unsigned char* buffer, unsigned int count) {
    (void)buffer; (void)count;
    return NoChannel;
}

unsigned int CECRProto::ecrRecv(unsigned char*& data, unsigned int& length, int attempts) {
    (void)data; (void)length; (void)attempts;
    return NoChannel;
}
