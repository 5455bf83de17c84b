#!/usr/bin/env python3
"""The exchange as a user would script it with the standard library alone.

    alt_exchange.py <device> <frame in hex>

Opens the serial device, sets it raw at 19200 bps 8N1, sends the frame, reads the
answer up to the end byte that its length byte announces, and checks it. Prints
nothing on success; exit status 0 when the answer is well formed, 1 otherwise.
"""
import os
import sys
import termios


def main():
    device, frame = sys.argv[1], bytes.fromhex(sys.argv[2])
    fd = os.open(device, os.O_RDWR | os.O_NOCTTY)
    iflag, oflag, cflag, lflag, _, _, cc = termios.tcgetattr(fd)
    iflag &= ~(termios.IGNBRK | termios.BRKINT | termios.PARMRK | termios.ISTRIP
               | termios.INLCR | termios.IGNCR | termios.ICRNL
               | termios.IXON | termios.IXOFF | termios.IXANY)
    oflag &= ~termios.OPOST
    lflag &= ~(termios.ECHO | termios.ECHONL | termios.ICANON | termios.ISIG | termios.IEXTEN)
    cflag &= ~(termios.CSIZE | termios.PARENB | termios.CSTOPB | termios.CRTSCTS | termios.HUPCL)
    cflag |= termios.CS8 | termios.CREAD | termios.CLOCAL
    cc[termios.VMIN] = 0
    cc[termios.VTIME] = 30  # give up after 3 s without a byte
    speed = termios.B19200
    termios.tcsetattr(fd, termios.TCSANOW, [iflag, oflag, cflag, lflag, speed, speed, cc])
    termios.tcflush(fd, termios.TCIOFLUSH)

    os.write(fd, frame)
    termios.tcdrain(fd)

    answer = bytearray()
    while len(answer) < 2 or len(answer) < answer[1] + 4:
        chunk = os.read(fd, 260)
        if not chunk:
            print("time out")
            return 1
        answer += chunk
    os.close(fd)

    length = answer[1]
    checksum = 0
    for b in answer[:length + 2]:
        checksum ^= b
    good = (answer[0] == 0x02 and answer[length + 3] == 0x03 and answer[4] == 0x01
            and answer[length + 2] == checksum and answer[5] != 0x45)
    if not good:
        print("bad answer: " + answer.hex(" "))
    return 0 if good else 1


if __name__ == "__main__":
    sys.exit(main())
