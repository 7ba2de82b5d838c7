// SPDX-License-Identifier: MIT
/* A register in plain C asks the terminal for a purchase through the C API and
 * prints what the terminal shows, the receipt and the answer. The purchase has
 * a reference of its own and is kept in the journal ($REGISTER_JOURNAL, else
 * ./register.journal); at start-up the register asks the journal what became
 * of its last purchase.
 *   purchase serial:/dev/ttyUSB0?baud=115200 1250
 * Build: cc -std=c99 purchase.c -lecrlinkc */
#include <ecrlink/ecrlink.h>

#include <stdio.h>
#include <stdlib.h>
#include <time.h>

/* Tag 2 of a status message: what the terminal shows the customer. */
static void show_status(void* user, ecrlink_message* status) {
    char text[256];
    size_t length = 0;
    (void)user;
    if (ecrlink_message_get_bytes(status, 2, (unsigned char*)text, sizeof text - 1, &length) == ECRLINK_OK) {
        text[length] = '\0';
        printf("terminal: %s\n", text);
    }
}

/* The receipt of the last run; returns its length. */
static size_t print_receipt(ecrlink_proto* proto) {
    size_t length = 0;
    unsigned char* receipt;
    ecrlink_dialogue_receipt(proto, NULL, 0, &length);
    receipt = malloc(length + 1);
    if (receipt && ecrlink_dialogue_receipt(proto, receipt, length, &length) == ECRLINK_OK)
        printf("receipt:\n%.*s\n", (int)length, (const char*)receipt);
    free(receipt);
    return length;
}

static void print_answer(ecrlink_message* answer) {
    unsigned int count = 0, i;
    ecrlink_message_count(answer, &count);
    for (i = 0; i < count; ++i) {
        ecrlink_tag* tag = NULL;
        unsigned int number = 0, length = 0;
        ecrlink_message_tag_at(answer, i, &tag);
        ecrlink_tag_number(tag, &number);
        ecrlink_tag_length(tag, &length);
        printf("tag %u: %u bytes\n", number, length);
    }
}

/* What became of the last purchase before this start. "sent, no answer": the
 * terminal may have taken the payment, so it is looked up there, never sent
 * again blindly; "answered, acknowledgement not delivered": check it there. */
static void recover(const char* journal) {
    ecrlink_transaction* last = NULL;
    unsigned int outcome = ECRLINK_OUTCOME_NOT_FOUND;
    char reference[64] = "", why[256] = "";
    if (ecrlink_transaction_new(&last)) return;
    if (ecrlink_journal_last(journal, last)) {
        ecrlink_transaction_error(last, why, sizeof why, NULL);
        fprintf(stderr, "journal: %s\n", why);
    } else if (ecrlink_transaction_outcome(last, &outcome) == ECRLINK_OK && outcome != ECRLINK_OUTCOME_NOT_FOUND) {
        ecrlink_transaction_reference(last, reference, sizeof reference, NULL);
        printf("last transaction %s: %s\n", reference, ecrlink_outcome_text(outcome));
        if (outcome == ECRLINK_OUTCOME_SENT_NO_ANSWER || outcome == ECRLINK_OUTCOME_ANSWERED_NOT_ACKNOWLEDGED)
            printf("  check %s at the terminal; it is not sent again\n", reference);
    }
    ecrlink_transaction_release(last);
}

int main(int argc, char** argv) {
    ecrlink_proto* proto = NULL;
    ecrlink_message* request = NULL;
    ecrlink_message* answer = NULL;
    char why[256] = "";
    const char* step = "start";
    const char* journal = getenv("REGISTER_JOURNAL") ? getenv("REGISTER_JOURNAL") : "register.journal";
    char reference[32];
    unsigned int rc;
    int receipt = 0;

    if (argc != 3) {
        fprintf(stderr, "usage: %s ADDRESS AMOUNT_IN_CENTS\n", argv[0]);
        return 2;
    }
    if ((rc = ecrlink_proto_new(&proto)) || (rc = ecrlink_message_new(&request)) || (rc = ecrlink_message_new(&answer)))
        goto done;
    step = "journal"; /* before the channel: the line records into it; nothing is sent without it */
    if ((rc = ecrlink_proto_use_journal(proto, journal, 0))) goto done;
    recover(journal);
    step = "address";
    if ((rc = ecrlink_proto_use_address(proto, argv[1]))) goto done;
    step = "open";
    if ((rc = ecrlink_proto_open(proto, 1))) goto done;

    ecrlink_message_set_number(request, 1, 1);                                /* operation: purchase */
    ecrlink_message_set_number(request, 4, (unsigned int)strtoul(argv[2], NULL, 10)); /* amount */
    ecrlink_dialogue_on_status(proto, show_status, NULL);
    step = "purchase";
    sprintf(reference, "R-%ld", (long)time(NULL)); /* a real register takes its receipt number */
    if ((rc = ecrlink_dialogue_run_reference(proto, request, answer, reference))) goto done;
    receipt = print_receipt(proto) > 0;
    print_answer(answer);
    ecrlink_proto_close(proto);

done:
    if (rc) {
        ecrlink_proto_last_error(proto, why, sizeof why, NULL);
        fprintf(stderr, "%s: %u %s%s%s\n", step, rc, ecrlink_result_text(rc), why[0] ? ": " : "", why);
    }
    ecrlink_message_release(answer);
    ecrlink_message_release(request);
    ecrlink_proto_release(proto);
    if (rc) return rc == 102 ? 2 : 1;
    return receipt ? 0 : 1;
}
