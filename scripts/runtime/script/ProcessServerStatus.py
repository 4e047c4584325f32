# Status commands that the gateway's own handlers leave come here, one call
# per packet: `packet` is the whole frame as bytes (FF CC, 32-bit length, the
# 9-byte head, the record). This example answers the common command
# "ScriptPing" with "pong: <parameter>" and ignores everything else.
import struct

import LogUI
import _IPY_SSLogicProcess as link

FRAME_PREFIX = 6          # FF CC + 32-bit length
HEAD_SIZE = 9             # Context, DestIndex, packType, DestServerType, SrcServerType
STATUS_SERVER = 13
NAME_SIZE = 32

_sender = link.new_IPY_SSLogicProcess()


def _send(head, record):
    return link.IPY_SSLogicProcess_SendPack(_sender, head, len(head), record, len(record))


def _reply(dest_index, name, param, data):
    head = struct.pack('<IhBBB', 0, dest_index, 0, STATUS_SERVER, STATUS_SERVER)
    record = (bytes([1, 5, 0]) + name.ljust(NAME_SIZE, b'\0')[:NAME_SIZE - 1] + b'\0'
              + struct.pack('<i', len(data)) + data + bytes([len(param)]) + param)
    return _send(head, record)


def ServerStatusOnCommand(packet):
    head = packet[FRAME_PREFIX:FRAME_PREFIX + HEAD_SIZE]
    record = packet[FRAME_PREFIX + HEAD_SIZE:]
    if len(head) < HEAD_SIZE or len(record) < 36 or record[0] != 3 or record[1] != 4:
        return 0
    dest_index = struct.unpack('<h', head[4:6])[0]
    name = record[3:3 + NAME_SIZE].split(b'\0', 1)[0]
    param = record[36:36 + record[35]]
    if name != b'ScriptPing':
        LogUI.Msg('ProcessServerStatus: no handler for %s' % name.decode('latin-1'))
        return 0
    return _reply(dest_index, name, param, b'pong: ' + param)
