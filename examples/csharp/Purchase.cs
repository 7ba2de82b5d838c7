// SPDX-License-Identifier: MIT
// A register in C# asks the terminal for a purchase through the C API (P/Invoke)
// and prints what the terminal shows, the receipt and the answer. The purchase has a
// reference of its own and is kept in the journal ($REGISTER_JOURNAL, else
// ./register.journal); at start-up the register asks the journal what became of its
// last purchase.
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
    [DllImport(Library)] public static extern uint ecrlink_proto_use_journal(IntPtr proto, string path, ulong rotateBytes);
    [DllImport(Library)] public static extern uint ecrlink_dialogue_run_reference(IntPtr proto, IntPtr request, IntPtr answer,
                                                                                  string reference);
    [DllImport(Library)] public static extern uint ecrlink_transaction_new(out IntPtr transaction);
    [DllImport(Library)] public static extern void ecrlink_transaction_release(IntPtr transaction);
    [DllImport(Library)] public static extern uint ecrlink_journal_last(string path, IntPtr transaction);
    [DllImport(Library)] public static extern uint ecrlink_transaction_outcome(IntPtr transaction, out uint outcome);
    [DllImport(Library)] public static extern uint ecrlink_transaction_reference(IntPtr transaction, byte[] buffer,
                                                                                 UIntPtr size, out UIntPtr length);
    [DllImport(Library)] static extern IntPtr ecrlink_outcome_text(uint outcome);
    public const uint OutcomeNotFound = 0, OutcomeSentNoAnswer = 2, OutcomeAnsweredNotAcknowledged = 4;

    public static string OutcomeText(uint outcome) { return Marshal.PtrToStringAnsi(ecrlink_outcome_text(outcome)); }

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
    // What became of the last purchase before this start. "sent, no answer": the terminal may have taken
    // the payment, so it is looked up there, never sent again blindly.
    static void Recover(string journal)
    {
        IntPtr last;
        uint outcome;
        if (Ecrlink.ecrlink_transaction_new(out last) != 0) return;
        if (Ecrlink.ecrlink_journal_last(journal, last) == 0 && Ecrlink.ecrlink_transaction_outcome(last, out outcome) == 0
            && outcome != Ecrlink.OutcomeNotFound) {
            UIntPtr length;
            Ecrlink.ecrlink_transaction_reference(last, null, UIntPtr.Zero, out length);
            var text = new byte[(int)length.ToUInt32() + 1]; // and its terminating zero
            Ecrlink.ecrlink_transaction_reference(last, text, (UIntPtr)text.Length, out length);
            string name = Encoding.UTF8.GetString(text, 0, (int)length.ToUInt32());
            Console.WriteLine("last transaction " + name + ": " + Ecrlink.OutcomeText(outcome));
            if (outcome == Ecrlink.OutcomeSentNoAnswer || outcome == Ecrlink.OutcomeAnsweredNotAcknowledged)
                Console.WriteLine("  check " + name + " at the terminal; it is not sent again");
        }
        Ecrlink.ecrlink_transaction_release(last);
    }

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
            string journal = Environment.GetEnvironmentVariable("REGISTER_JOURNAL") ?? "register.journal";
            // Before the channel: the line records into the journal; nothing is sent without it.
            uint rc = Ecrlink.ecrlink_proto_use_journal(proto, journal, 0);
            if (rc != 0) return Fail("journal", rc);
            Recover(journal);
            rc = Ecrlink.ecrlink_proto_use_address(proto, args[0]);
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

            string reference = "R-" + DateTimeOffset.UtcNow.ToUnixTimeSeconds(); // a real register takes its receipt number
            rc = Ecrlink.ecrlink_dialogue_run_reference(proto, request, answer, reference);
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
