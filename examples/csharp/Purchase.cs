// SPDX-License-Identifier: MIT
// A register in C# asks the terminal for a purchase through the C API (P/Invoke)
// and prints what the terminal shows, the receipt and the answer.
//   mcs Purchase.cs && mono Purchase.exe serial:/dev/ttyUSB0?baud=115200 1250
// Ctrl-C cancels the purchase from the console's thread: the terminal is told with EOT.
using System;
using System.Runtime.InteropServices;
using System.Text;

static class Ecrlink
{
    const string Library = "libecrlinkc.so.1";

    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    public delegate void StatusFn(IntPtr user, IntPtr status);

    [DllImport(Library)] public static extern uint ecrlink_proto_new(out IntPtr proto);
    [DllImport(Library)] public static extern void ecrlink_proto_release(IntPtr proto);
    [DllImport(Library)] public static extern uint ecrlink_proto_use_address(IntPtr proto, string address);
    [DllImport(Library)] public static extern uint ecrlink_proto_open(IntPtr proto, int flag);
    [DllImport(Library)] public static extern uint ecrlink_proto_close(IntPtr proto);
    [DllImport(Library)] public static extern uint ecrlink_message_new(out IntPtr message);
    [DllImport(Library)] public static extern void ecrlink_message_release(IntPtr message);
    [DllImport(Library)] public static extern uint ecrlink_message_set_number(IntPtr message, uint number, uint value);
    [DllImport(Library)] public static extern uint ecrlink_message_get_bytes(IntPtr message, uint number, byte[] buffer,
                                                                             UIntPtr size, out UIntPtr length);
    [DllImport(Library)] public static extern uint ecrlink_dialogue_on_status(IntPtr proto, StatusFn fn, IntPtr user);
    [DllImport(Library)] public static extern uint ecrlink_dialogue_run(IntPtr proto, IntPtr request, IntPtr answer);
    [DllImport(Library)] public static extern uint ecrlink_dialogue_cancel(IntPtr proto);
    [DllImport(Library)] public static extern uint ecrlink_dialogue_receipt(IntPtr proto, byte[] buffer, UIntPtr size,
                                                                            out UIntPtr length);
    [DllImport(Library)] static extern IntPtr ecrlink_result_text(uint code);

    public static string Text(uint code) { return Marshal.PtrToStringAnsi(ecrlink_result_text(code)); }

    // Copies bytes out of a function that takes (buffer, size, length): asks the size first.
    public delegate uint CopyOut(byte[] buffer, UIntPtr size, out UIntPtr length);
    public static byte[] Bytes(CopyOut copy)
    {
        UIntPtr length;
        copy(null, UIntPtr.Zero, out length);
        var buffer = new byte[(int)length.ToUInt32()];
        return copy(buffer, (UIntPtr)buffer.Length, out length) == 0 ? buffer : new byte[0];
    }
}

static class Purchase
{
    static int Main(string[] args)
    {
        if (args.Length != 2) {
            Console.Error.WriteLine("usage: Purchase.exe ADDRESS AMOUNT_IN_CENTS");
            return 2;
        }
        IntPtr proto, request, answer;
        Ecrlink.ecrlink_proto_new(out proto);
        Ecrlink.ecrlink_message_new(out request);
        Ecrlink.ecrlink_message_new(out answer);
        try {
            uint rc = Ecrlink.ecrlink_proto_use_address(proto, args[0]);
            if (rc == 0) rc = Ecrlink.ecrlink_proto_open(proto, 1);
            if (rc != 0) return Fail("open", rc);

            Ecrlink.ecrlink_message_set_number(request, 1, 1);                    // operation: purchase
            Ecrlink.ecrlink_message_set_number(request, 4, uint.Parse(args[1]));  // amount in cents
            Ecrlink.StatusFn show = (user, status) => {
                byte[] text = Ecrlink.Bytes((byte[] b, UIntPtr s, out UIntPtr l) =>
                    Ecrlink.ecrlink_message_get_bytes(status, 2, b, s, out l));
                Console.WriteLine("terminal: " + Encoding.UTF8.GetString(text));
            };
            Ecrlink.ecrlink_dialogue_on_status(proto, show, IntPtr.Zero);
            Console.CancelKeyPress += (sender, e) => { e.Cancel = true; Ecrlink.ecrlink_dialogue_cancel(proto); };

            rc = Ecrlink.ecrlink_dialogue_run(proto, request, answer);
            GC.KeepAlive(show);
            if (rc != 0) return Fail("purchase", rc);
            byte[] receipt = Ecrlink.Bytes((byte[] b, UIntPtr s, out UIntPtr l) =>
                Ecrlink.ecrlink_dialogue_receipt(proto, b, s, out l));
            Console.WriteLine("receipt:\n" + Encoding.UTF8.GetString(receipt));
            byte[] result = Ecrlink.Bytes((byte[] b, UIntPtr s, out UIntPtr l) =>
                Ecrlink.ecrlink_message_get_bytes(answer, 2, b, s, out l));
            Console.WriteLine("answer: " + Encoding.UTF8.GetString(result));
            Ecrlink.ecrlink_proto_close(proto);
            return receipt.Length > 0 ? 0 : 1;
        } finally {
            Ecrlink.ecrlink_message_release(answer);
            Ecrlink.ecrlink_message_release(request);
            Ecrlink.ecrlink_proto_release(proto);
        }
    }

    static int Fail(string step, uint rc)
    {
        Console.Error.WriteLine(step + ": " + rc + " " + Ecrlink.Text(rc));
        return 1;
    }
}
